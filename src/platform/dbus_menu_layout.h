// The tray menu as a com.canonical.dbusmenu host sees it: flat items under
// the root (id 0), each with a stable id, a label in the dbusmenu mnemonic
// form and its enabled state. Ids are the items' commands, so an item keeps
// its id when texts change or other items are deleted; separators, which
// have no command, are numbered by their order from kSeparatorIdBase.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "osal/ka_string.h"
#include "platform/menu.h"

namespace wardex::platform {

inline constexpr int32_t kSeparatorIdBase = 0x10000;

struct DbusMenuItem {
  int32_t id = 0;
  uint32_t command = 0;  // 0 for a separator
  bool separator = false;
  std::string label;  // UTF-8, "_" before the mnemonic, "__" for a literal "_"
  bool enabled = true;
  bool operator==(const DbusMenuItem&) const = default;
};

// The Windows menu text in the dbusmenu form: "&x" marks the mnemonic x and
// becomes "_x", "&&" is a literal "&", a literal "_" becomes "__"; a lone
// trailing "&" marks nothing and is dropped.
[[nodiscard]] std::string DbusMenuLabel(const KaOSAL::KaString& text);

// The items of |popup| by position. Pop-up items (the tray menu has none)
// are shown as disabled items without their children. The default item is
// not marked: dbusmenu has no property for it.
[[nodiscard]] std::vector<DbusMenuItem> DbusMenuItems(const Menu& popup);

// What a host must be told when the menu goes from |before| to |after|: the
// layout changed (items added, removed or moved), or only these items' label
// or enabled state did.
struct DbusMenuChange {
  bool layout = false;
  std::vector<int32_t> properties;
};
[[nodiscard]] DbusMenuChange CompareDbusMenus(const std::vector<DbusMenuItem>& before,
                                              const std::vector<DbusMenuItem>& after);

}  // namespace wardex::platform
