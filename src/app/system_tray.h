// CSystemTray: the agent's icon in the notification area, its balloons and
// its menu. Its own hidden window receives the icon's callback messages and
// the shell's "TaskbarCreated" announcement, so it must be created on the
// user-interface thread. ShowBalloon, SetIcon and the menu operations may
// also be called from other threads (the pipe callbacks): one lock
// serialises every operation on the stored notification data, the icon
// cache and the menu. The lock is never held while another window is sent a
// message or while the menu is shown.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/menu.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "platform/ui.h"

namespace wardex {

class CSystemTray : public platform::Window {
 public:
  // The message sent (and waited for) to the menu-opening window just
  // before the menu opens.
  static constexpr platform::UINT kMenuAboutToOpen = 0x1991;

  // |balloons_supported| is what the shell offers; every shell the agent
  // runs on has balloons, false stands for one without them.
  explicit CSystemTray(bool balloons_supported = true);
  ~CSystemTray() override;

  // Creates the tray window when needed and adds the icon. |parent| (may be
  // null) receives the icon's messages instead of the tray window;
  // |callback_message| 0 uses the registered "CSystemTray::TrayNotify". The
  // menu resource |id| is loaded when the icon was added (or deliberately
  // not added: hidden without balloon support). False when the add failed.
  [[nodiscard]] bool Create(platform::HWND parent, platform::UINT callback_message,
                            const char16_t* tooltip, platform::HICON icon, platform::UINT id,
                            bool hidden = false, const char16_t* balloon_text = nullptr,
                            const char16_t* balloon_title = nullptr,
                            uint32_t balloon_icon = platform::NIIF_NONE,
                            platform::UINT balloon_timeout_s = 10);

  bool RemoveIcon();
  bool AddIcon();
  bool HideIcon();
  bool ShowIcon();
  bool SetIconFocus();
  // The handle stays the caller's; a hidden icon only remembers it.
  bool SetIcon(platform::HICON icon);
  // Loads icon |resource_id| once and keeps it in the icon cache.
  bool SetIcon(platform::UINT resource_id);
  // Text cut to 255 characters, title to 63.
  bool ShowBalloon(const char16_t* text, const char16_t* title = nullptr,
                   uint32_t icon_flags = platform::NIIF_NONE, platform::UINT timeout_s = 10);

  // On the tray menu (the first pop-up of the menu); false without a menu.
  // |item| is a position, or with |by_position| false a command; the item
  // keeps its command.
  bool SetMenuText(platform::UINT item, const char16_t* text, bool by_position = true);
  bool SetMenuDefaultItem(platform::UINT item, bool by_position);
  bool EnableMenuItem(platform::UINT command, bool enable);
  bool DeleteMenuItem(platform::UINT command);
  // A copy of the tray menu as it is now; false without a menu.
  [[nodiscard]] bool GetTrayMenu(platform::Menu* copy) const;

  void SetMenuOpeningWindow(platform::HWND window);
  // Where menu commands go; null (the default) means the main window.
  void SetTargetWnd(platform::HWND window);

  // The icon's callback message: opens the menu for clicks. Answers 1 when
  // the event was the icon's, 0 when it was ignored.
  platform::LRESULT OnTrayNotification(platform::WPARAM id, platform::LPARAM event);
  // Removes the icon, releases the menu and destroys the tray window.
  bool DestroyWindow();

  [[nodiscard]] bool IsHidden() const;
  [[nodiscard]] bool IsRemoved() const;
  [[nodiscard]] bool IsShowPending() const;

  platform::LRESULT WindowProc(platform::UINT message, platform::WPARAM wparam,
                               platform::LPARAM lparam) override;

 private:
  // Shell_NotifyIcon with the stored data; the lock is held.
  bool Notify(uint32_t message);
  // "TaskbarCreated" and work-area changes: the icon comes back unless it
  // was hidden or removed on purpose.
  void OnTaskbarCreated();
  // The tray menu, or null; the lock is held.
  [[nodiscard]] platform::Menu* TrayMenu() const;
  // Tells the shell the tray menu as it is now (hosts that draw it
  // themselves); the lock is held.
  void PublishMenu() const;

  mutable std::recursive_mutex mutex_;
  bool hidden_ = true;
  bool removed_ = true;
  bool show_pending_ = false;
  const bool balloons_supported_;
  platform::NOTIFYICONDATAW data_{};
  platform::UINT default_menu_item_ = 0;
  bool default_by_position_ = true;
  platform::HWND target_ = nullptr;
  std::unique_ptr<platform::Menu> menu_;
  std::map<platform::UINT, platform::HICON> icon_cache_;
  platform::HWND menu_opening_window_ = nullptr;
};

}  // namespace wardex
