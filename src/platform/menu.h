// A menu as the Windows menu functions see it: items reached by position or
// by command, each a text item, a separator or a pop-up, with grey, check
// and default states. Not thread-safe; its owner serialises access.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "osal/ka_string.h"

namespace wardex::platform {

// Menu flags with their Windows values.
inline constexpr uint32_t MF_BYCOMMAND = 0x0000;
inline constexpr uint32_t MF_STRING = 0x0000;
inline constexpr uint32_t MF_ENABLED = 0x0000;
inline constexpr uint32_t MF_UNCHECKED = 0x0000;
inline constexpr uint32_t MF_GRAYED = 0x0001;
inline constexpr uint32_t MF_DISABLED = 0x0002;
inline constexpr uint32_t MF_CHECKED = 0x0008;
inline constexpr uint32_t MF_POPUP = 0x0010;
inline constexpr uint32_t MF_BYPOSITION = 0x0400;
inline constexpr uint32_t MF_SEPARATOR = 0x0800;
inline constexpr uint32_t MF_DEFAULT = 0x1000;
// What EnableMenuItem and GetMenuItemID answer for a missing item.
inline constexpr uint32_t kNoMenuItem = 0xFFFFFFFF;

class Menu {
 public:
  struct Item {
    uint32_t command = 0;  // 0 for a separator
    KaOSAL::KaString text;
    uint32_t state = 0;  // MF_GRAYED, MF_DISABLED, MF_CHECKED
    bool separator = false;
    std::unique_ptr<Menu> popup;
  };

  Menu() = default;
  Menu(const Menu& other);
  Menu& operator=(const Menu& other);

  // Appends a text item, a separator (MF_SEPARATOR) or |popup| (MF_POPUP).
  void AppendItem(uint32_t flags, uint32_t command, const KaOSAL::KaString& text);
  void AppendPopup(std::unique_ptr<Menu> popup, const KaOSAL::KaString& text);

  [[nodiscard]] int GetItemCount() const { return static_cast<int>(items_.size()); }
  // The item's command; 0 for a separator, kNoMenuItem for a pop-up or a
  // position out of range.
  [[nodiscard]] uint32_t GetMenuItemID(int position) const;
  // The pop-up at |position|, or null.
  [[nodiscard]] Menu* GetSubMenu(int position) const;
  // The item |item| (a command, or a position with MF_BYPOSITION), or null.
  [[nodiscard]] const Item* FindItem(uint32_t item, uint32_t flags) const;

  // Replaces the item with a text item (or separator) of |new_command| and
  // |text|; MF_GRAYED, MF_DISABLED and MF_CHECKED in |flags| become its state.
  // MF_DEFAULT is not an item state here and is ignored, as Windows does.
  bool ModifyMenu(uint32_t item, uint32_t flags, uint32_t new_command,
                  const KaOSAL::KaString& text);
  // Sets MF_ENABLED, MF_GRAYED or MF_DISABLED; answers the previous state
  // (MF_GRAYED | MF_DISABLED bits), or kNoMenuItem when the item is missing.
  uint32_t EnableMenuItem(uint32_t command, uint32_t flags);
  // Sets or clears the check mark; answers the previous one, or kNoMenuItem.
  uint32_t CheckMenuItem(uint32_t item, uint32_t flags);
  bool DeleteMenu(uint32_t item, uint32_t flags);

  // One item at most is the default; kNoMenuItem clears it. False when the
  // item does not exist.
  bool SetDefaultItem(uint32_t item, bool by_position);
  // The default item's position or command, or kNoMenuItem.
  [[nodiscard]] uint32_t GetDefaultItem(bool by_position) const;

  [[nodiscard]] const std::vector<Item>& items() const { return items_; }

 private:
  // The index of |item|, or -1.
  [[nodiscard]] int IndexOf(uint32_t item, uint32_t flags) const;
  // Sets the |mask| bits of |item|'s state to those of |flags|; returns the
  // bits they had, or kNoMenuItem when there is no such item.
  uint32_t ReplaceStateBits(uint32_t item, uint32_t flags, uint32_t mask);

  std::vector<Item> items_;
  int default_index_ = -1;
};

}  // namespace wardex::platform
