// The tray icons' PNG files, drawn by scripts/make_tray_icons.py.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wardex::platform {

extern const uint8_t kTrayIconPng[];  // icon 128, 32x32
extern const size_t kTrayIconPngSize;
extern const uint8_t kBusyIconPng[];  // icon 130, 32x32
extern const size_t kBusyIconPngSize;

}  // namespace wardex::platform
