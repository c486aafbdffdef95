#include "platform/menu.h"

namespace wardex::platform {

namespace {

constexpr uint32_t kEnableMask = MF_GRAYED | MF_DISABLED;
constexpr uint32_t kStateMask = MF_GRAYED | MF_DISABLED | MF_CHECKED;

}  // namespace

Menu::Menu(const Menu& other) : default_index_(other.default_index_) {
  for (const Item& item : other.items_) {
    items_.push_back(Item{item.command, item.text, item.state, item.separator,
                          item.popup ? std::make_unique<Menu>(*item.popup) : nullptr});
  }
}

Menu& Menu::operator=(const Menu& other) {
  if (this != &other) {
    Menu copy(other);
    items_ = std::move(copy.items_);
    default_index_ = copy.default_index_;
  }
  return *this;
}

void Menu::AppendItem(uint32_t flags, uint32_t command, const KaOSAL::KaString& text) {
  const bool separator = (flags & MF_SEPARATOR) != 0;
  items_.push_back(Item{separator ? 0 : command, separator ? KaOSAL::KaString() : text,
                        flags & kStateMask, separator, nullptr});
}

void Menu::AppendPopup(std::unique_ptr<Menu> popup, const KaOSAL::KaString& text) {
  items_.push_back(Item{0, text, 0, false, std::move(popup)});
}

int Menu::IndexOf(uint32_t item, uint32_t flags) const {
  if ((flags & MF_BYPOSITION) != 0) {
    return item < items_.size() ? static_cast<int>(item) : -1;
  }
  for (size_t i = 0; i < items_.size(); ++i) {
    if (!items_[i].separator && !items_[i].popup && items_[i].command == item) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

const Menu::Item* Menu::FindItem(uint32_t item, uint32_t flags) const {
  const int index = IndexOf(item, flags);
  return index < 0 ? nullptr : &items_[index];
}

uint32_t Menu::GetMenuItemID(int position) const {
  if (position < 0 || position >= GetItemCount() || items_[position].popup) return kNoMenuItem;
  return items_[position].command;
}

Menu* Menu::GetSubMenu(int position) const {
  if (position < 0 || position >= GetItemCount()) return nullptr;
  return items_[position].popup.get();
}

bool Menu::ModifyMenu(uint32_t item, uint32_t flags, uint32_t new_command,
                      const KaOSAL::KaString& text) {
  const int index = IndexOf(item, flags);
  if (index < 0) return false;
  Item& target = items_[index];
  target.separator = (flags & MF_SEPARATOR) != 0;
  target.command = target.separator ? 0 : new_command;
  target.text = target.separator ? KaOSAL::KaString() : text;
  target.state = flags & kStateMask;
  target.popup.reset();
  return true;
}

uint32_t Menu::ReplaceStateBits(uint32_t item, uint32_t flags, uint32_t mask) {
  const int index = IndexOf(item, flags);
  if (index < 0) return kNoMenuItem;
  uint32_t& state = items_[index].state;
  const uint32_t previous = state & mask;
  state = (state & ~mask) | (flags & mask);
  return previous;
}

uint32_t Menu::EnableMenuItem(uint32_t command, uint32_t flags) {
  return ReplaceStateBits(command, flags, kEnableMask);
}

uint32_t Menu::CheckMenuItem(uint32_t item, uint32_t flags) {
  return ReplaceStateBits(item, flags, MF_CHECKED);
}

bool Menu::DeleteMenu(uint32_t item, uint32_t flags) {
  const int index = IndexOf(item, flags);
  if (index < 0) return false;
  items_.erase(items_.begin() + index);
  if (default_index_ == index) {
    default_index_ = -1;
  } else if (default_index_ > index) {
    --default_index_;
  }
  return true;
}

bool Menu::SetDefaultItem(uint32_t item, bool by_position) {
  if (item == kNoMenuItem) {
    default_index_ = -1;
    return true;
  }
  const int index = IndexOf(item, by_position ? MF_BYPOSITION : MF_BYCOMMAND);
  if (index < 0) return false;
  default_index_ = index;
  return true;
}

uint32_t Menu::GetDefaultItem(bool by_position) const {
  if (default_index_ < 0) return kNoMenuItem;
  return by_position ? static_cast<uint32_t>(default_index_) : items_[default_index_].command;
}

}  // namespace wardex::platform
