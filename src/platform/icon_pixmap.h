// The tray icons as pixel data for hosts that take pixels rather than a
// themed icon name (the StatusNotifierItem's IconPixmap).
#pragma once

#include <cstdint>
#include <vector>

namespace wardex::platform {

struct IconPixmap {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> argb;  // ARGB32 in network byte order, row by row
};

// Icon resource |id| at the sizes panels ask for most (16, 22, 24, its own
// 32 and 48), scaled by area averaging; decoded once and kept. Empty for an
// unknown id or undecodable data.
[[nodiscard]] const std::vector<IconPixmap>& IconPixmaps(uint32_t id);

// |source| scaled to |size| x |size| by area averaging in premultiplied alpha.
[[nodiscard]] IconPixmap ScaleIconPixmap(const IconPixmap& source, int32_t size);

}  // namespace wardex::platform
