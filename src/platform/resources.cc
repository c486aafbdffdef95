#include "platform/resources.h"

#include <iterator>

#include "osal/last_error.h"
#include "platform/icon_data.h"
#include "platform/product_version.h"

namespace wardex::platform {

namespace {

const IconResource kIcons[] = {
    {IDI_TRAYICON, 32, 32, kTrayIconPng, kTrayIconPngSize},
    {IDR_MAINFRAME, 32, 32, kBusyIconPng, kBusyIconPngSize},
};

struct MenuItemResource {
  uint32_t flags;
  uint32_t command;
  const char16_t* text;
};

// The tray menu as the resource defines it; the agent replaces the texts
// with localised ones when it starts.
constexpr MenuItemResource kTrayMenu[] = {
    {MF_STRING, 0x8010, u"Start Corvane Brisko"},
    {MF_STRING, 0x8017, u"Snap-Check"},
    {MF_STRING, 0x8019, u"Letzte Nachricht anzeigen"},
    {MF_STRING, 0x8018, u"Turbo-Modus"},
    {MF_STRING, 0x8015, u"Einstellungen"},
    {MF_SEPARATOR, 0, u""},
    {MF_STRING, 0x8016, u"Info"},
    {MF_STRING, 0x8012, u"Close Corvane Tray"},
};

}  // namespace

const IconResource* FindIconResource(uint32_t id) {
  for (const IconResource& icon : kIcons) {
    if (icon.id == id) return &icon;
  }
  return nullptr;
}

std::unique_ptr<Menu> LoadMenuResource(uint32_t id) {
  if (id != IDR_MAINFRAME) {
    KaOSAL::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  auto popup = std::make_unique<Menu>();
  for (const MenuItemResource& item : kTrayMenu)
    popup->AppendItem(item.flags, item.command, item.text);
  auto menu = std::make_unique<Menu>();
  menu->AppendPopup(std::move(popup), u"Tray");
  return menu;
}

AboutDialogTexts GetAboutDialogTexts() {
  return AboutDialogTexts{KaOSAL::KaString(u"About ") + kProductName,
                          KaOSAL::KaString(kProductName) + u" Version " + kProductVersion,
                          u"Copyright (C) 2026 Corvane"};
}

}  // namespace wardex::platform
