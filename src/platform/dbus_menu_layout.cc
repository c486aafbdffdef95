#include "platform/dbus_menu_layout.h"

#include "osal/wide_format.h"

namespace wardex::platform {

std::string DbusMenuLabel(const KaOSAL::KaString& text) {
  std::u16string label;
  const char16_t* p = text.c_str();
  for (; *p != 0; ++p) {
    if (*p == u'&') {
      if (p[1] == u'&') {
        label += u'&';
        ++p;
      } else if (p[1] != 0) {
        label += u'_';
      }
    } else if (*p == u'_') {
      label += u"__";
    } else {
      label += *p;
    }
  }
  return KaOSAL::ToUtf8(label);
}

std::vector<DbusMenuItem> DbusMenuItems(const Menu& popup) {
  std::vector<DbusMenuItem> items;
  int32_t separators = 0;
  for (const Menu::Item& source : popup.items()) {
    DbusMenuItem item;
    if (source.separator) {
      item.separator = true;
      item.id = kSeparatorIdBase + separators++;
    } else {
      item.command = source.command;
      item.id = static_cast<int32_t>(source.command);
      item.label = DbusMenuLabel(source.text);
      item.enabled = (source.state & (MF_GRAYED | MF_DISABLED)) == 0 && source.popup == nullptr;
    }
    items.push_back(std::move(item));
  }
  return items;
}

DbusMenuChange CompareDbusMenus(const std::vector<DbusMenuItem>& before,
                                const std::vector<DbusMenuItem>& after) {
  DbusMenuChange change;
  if (before.size() != after.size()) {
    change.layout = true;
    return change;
  }
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i].id != after[i].id || before[i].separator != after[i].separator) {
      change.layout = true;
      change.properties.clear();
      return change;
    }
    if (before[i] != after[i]) change.properties.push_back(after[i].id);
  }
  return change;
}

}  // namespace wardex::platform
