// The resources compiled into the program, where the Windows executable has
// its resource section: the tray menu, the tray icons and the About dialog.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "osal/ka_string.h"
#include "platform/menu.h"

namespace wardex::platform {

// Resource ids: 130 is the main frame's resource (its menu, the tray menu,
// and its icon, the busy icon); 128 is the tray icon; 100 the About dialog.
inline constexpr uint32_t IDR_MAINFRAME = 130;
inline constexpr uint32_t IDI_TRAYICON = 128;
inline constexpr uint32_t IDD_ABOUTBOX = 100;

// Resource lookup errors with their Windows codes.
inline constexpr uint32_t ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr uint32_t ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

struct IconResource {
  uint32_t id;
  int width;
  int height;
  const uint8_t* png;
  size_t png_size;
};

// A loaded icon (HICON): each load makes a new one, released by DestroyIcon.
// On Windows it also holds the system's icon, loaded from the program's own
// icon resources (made from the same drawings).
struct IconImage {
  const IconResource* resource;
  void* system_icon = nullptr;
};
using HICON = IconImage*;

// The icon resource |id|, or null.
[[nodiscard]] const IconResource* FindIconResource(uint32_t id);
// LoadImageW for an icon of the program's module at its own size: a new
// handle each call; null with the last error 1814 for an unknown id (on
// Windows also for a program without that icon resource).
[[nodiscard]] HICON LoadIconImage(uint32_t id);
bool DestroyIcon(HICON icon);

// LoadMenuW: a fresh copy of the menu resource |id|; null with the last
// error 1814 for an unknown id. Menu 130 holds one pop-up, the tray menu.
[[nodiscard]] std::unique_ptr<Menu> LoadMenuResource(uint32_t id);

// The About dialog's texts (dialog 100).
struct AboutDialogTexts {
  KaOSAL::KaString caption;
  KaOSAL::KaString product_line;  // name and version
  KaOSAL::KaString copyright;
};
[[nodiscard]] AboutDialogTexts GetAboutDialogTexts();

}  // namespace wardex::platform
