#!/usr/bin/env python3
"""Draws the agent's two tray icons and writes them as PNG byte arrays.

Icon 128 is the normal icon: a blue shield with a white tick. Icon 130 is the
busy icon shown while a module task runs: the same shield in amber with three
white dots. Run it again after changing a drawing:

    scripts/make_tray_icons.py > src/platform/icon_data.cc
    scripts/make_tray_icons.py --png dist/icons/wardex.png

The second form writes the normal icon as the application's icon for the
desktop entry (the hicolor theme's 32x32 "wardex"); --png SIZE FILE draws it
at another of the theme's sizes. The Windows program has both icons as icon
resources of its own, from .ico files:

    scripts/make_tray_icons.py --ico tray src/platform/tray_icon.ico
    scripts/make_tray_icons.py --ico busy src/platform/busy_icon.ico
"""
import struct
import sys
import zlib

SIZE = 32


def shield_contains(px, py, inset=0.0):
    """True when the point lies inside the shield (shrunk by inset)."""
    top, bottom, left, right, shoulder = 3 + inset, 29.5 - inset, 5 + inset, 27 - inset, 17.0
    if py < top or py > bottom:
        return False
    if py <= shoulder:
        return left <= px <= right
    # Below the shoulder the sides run straight to the point at the bottom.
    t = (py - shoulder) / (bottom - shoulder)
    half = (right - left) / 2 * (1 - t)
    return abs(px - 16) <= half


def near_segment(px, py, a, b, width):
    """True when the point is within width/2 of the segment a-b."""
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    cx, cy = ax + t * dx, ay + t * dy
    return (px - cx) ** 2 + (py - cy) ** 2 <= (width / 2) ** 2


def draw(fill, border, mark, size=SIZE):
    """Returns size rows of RGBA pixels; the drawing is made for SIZE and
    scaled, each pixel taking the colour at its centre."""
    white = (255, 255, 255, 255)
    scale = SIZE / size
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = (x + 0.5) * scale, (y + 0.5) * scale
            if not shield_contains(px, py):
                row.append((0, 0, 0, 0))
            elif not shield_contains(px, py, 1.6):
                row.append(border)
            elif mark(px, py):
                row.append(white)
            else:
                row.append(fill)
        rows.append(row)
    return rows


def tick(px, py):
    return near_segment(px, py, (10, 15), (14.5, 20), 3.2) or near_segment(px, py, (14.5, 20), (22, 10), 3.2)


def dots(px, py):
    return any((px - cx) ** 2 + (py - 15) ** 2 <= 2.2 ** 2 for cx in (10.5, 16, 21.5))


def png(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(c for pixel in row for c in pixel) for row in rows)
    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ico(rows):
    """One 32-bit image with its alpha and an AND mask, bottom-up, as every
    version of Windows reads an icon."""
    size = len(rows)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = (size + 31) // 32 * 4
    mask = b""
    for row in reversed(rows):
        bits = 0
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                bits |= 1 << (mask_stride * 8 - 1 - x)
        mask += bits.to_bytes(mask_stride, "big")
    image = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask),
                        0, 0, 0, 0) + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def as_array(name, data):
    lines = [f"const uint8_t {name}[] = {{"]
    for i in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02x}" for b in data[i:i + 16]) + ",")
    lines.append("};")
    return "\n".join(lines)


NORMAL_COLOURS = ((33, 102, 196, 255), (18, 60, 122, 255))
BUSY_COLOURS = ((232, 150, 20, 255), (150, 90, 8, 255))


def main():
    if len(sys.argv) in (3, 4) and sys.argv[1] == "--png":
        size = int(sys.argv[2]) if len(sys.argv) == 4 else SIZE
        with open(sys.argv[-1], "wb") as out:
            out.write(png(draw(*NORMAL_COLOURS, tick, size)))
        return
    if len(sys.argv) == 4 and sys.argv[1] == "--ico" and sys.argv[2] in ("tray", "busy"):
        drawing = draw(*NORMAL_COLOURS, tick) if sys.argv[2] == "tray" else draw(*BUSY_COLOURS, dots)
        with open(sys.argv[3], "wb") as out:
            out.write(ico(drawing))
        return
    normal = png(draw(*NORMAL_COLOURS, tick))
    busy = png(draw(*BUSY_COLOURS, dots))
    print("// Generated by scripts/make_tray_icons.py; do not edit.")
    print("// clang-format off")
    print('#include "platform/icon_data.h"\n')
    print("namespace wardex::platform {\n")
    print(as_array("kTrayIconPng", normal))
    print("const size_t kTrayIconPngSize = sizeof(kTrayIconPng);\n")
    print(as_array("kBusyIconPng", busy))
    print("const size_t kBusyIconPngSize = sizeof(kBusyIconPng);\n")
    print("}  // namespace wardex::platform")


if __name__ == "__main__":
    main()
