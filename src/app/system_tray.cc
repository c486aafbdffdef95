#include "app/system_tray.h"

#include "osal/last_error.h"

namespace wardex {

using namespace platform;

namespace {

// Registered while static data is initialised, as the shell expects every
// tray owner to know them before its first icon.
const UINT g_taskbar_created = RegisterWindowMessage(u"TaskbarCreated");
const UINT g_tray_notify = RegisterWindowMessage(u"CSystemTray::TrayNotify");

// Seconds to the milliseconds of the balloon time-out field.
UINT BalloonTimeout(UINT seconds) { return seconds * 1000; }

}  // namespace

CSystemTray::CSystemTray(bool balloons_supported) : balloons_supported_(balloons_supported) {
  data_.cbSize = kNotifyIconDataSize;
}

CSystemTray::~CSystemTray() {
  std::lock_guard lock(mutex_);
  for (auto& [id, icon] : icon_cache_) DestroyIcon(icon);
  icon_cache_.clear();
  menu_.reset();
  Destroy();
}

bool CSystemTray::Notify(uint32_t message) { return Shell_NotifyIcon(message, &data_); }

Menu* CSystemTray::TrayMenu() const { return menu_ ? menu_->GetSubMenu(0) : nullptr; }

void CSystemTray::PublishMenu() const {
  if (const Menu* popup = TrayMenu()) SetNotifyIconMenu(data_.uID, *popup, target_);
}

bool CSystemTray::Create(HWND parent, UINT callback_message, const char16_t* tooltip, HICON icon,
                         UINT id, bool hidden, const char16_t* balloon_text,
                         const char16_t* balloon_title, uint32_t balloon_icon,
                         UINT balloon_timeout_s) {
  std::lock_guard lock(mutex_);
  if (callback_message == 0) callback_message = g_tray_notify;
  if (hwnd() == nullptr && Register() == nullptr) return false;

  data_.hWnd = parent != nullptr ? parent : hwnd();
  data_.uID = id;
  data_.uCallbackMessage = callback_message;
  data_.hIcon = icon;
  data_.uFlags = NIF_MESSAGE | NIF_ICON;
  if (tooltip != nullptr) CopyToField(data_.szTip, kTipLength, tooltip);
  if (data_.szTip[0] != 0) data_.uFlags |= NIF_TIP;
  const bool with_balloon = balloons_supported_ && balloon_text != nullptr;
  if (with_balloon) {
    data_.uFlags |= NIF_INFO;
    CopyToField(data_.szInfo, kInfoLength, balloon_text);
    CopyToField(data_.szInfoTitle, kInfoTitleLength, balloon_title);
    data_.uTimeout = BalloonTimeout(balloon_timeout_s);
    data_.dwInfoFlags = balloon_icon;
  }

  hidden_ = hidden;
  if (balloons_supported_ && hidden_) {
    data_.uFlags |= NIF_STATE;
    data_.dwState = NIS_HIDDEN;
    data_.dwStateMask = NIS_HIDDEN;
  }
  if (hidden_ && !balloons_supported_) {
    menu_ = LoadMenuResource(id);
    PublishMenu();
    return true;
  }

  const bool added = Notify(NIM_ADD);
  hidden_ = removed_ = show_pending_ = !added;
  if (with_balloon) data_.szInfo[0] = 0;
  if (!added) return false;
  menu_ = LoadMenuResource(id);
  PublishMenu();
  return true;
}

bool CSystemTray::RemoveIcon() {
  std::lock_guard lock(mutex_);
  show_pending_ = false;
  if (removed_) return true;
  const UINT flags = data_.uFlags;
  data_.uFlags = 0;
  const bool deleted = Notify(NIM_DELETE);
  data_.uFlags = flags;
  if (!deleted) return false;
  hidden_ = removed_ = true;
  return true;
}

bool CSystemTray::AddIcon() {
  std::lock_guard lock(mutex_);
  if (!removed_) RemoveIcon();
  if (data_.hIcon != nullptr) data_.uFlags |= NIF_ICON;
  data_.uFlags |= NIF_TIP;
  if (data_.uCallbackMessage != 0) data_.uFlags |= NIF_MESSAGE;
  if (!Notify(NIM_ADD)) {
    show_pending_ = true;
    return false;
  }
  removed_ = hidden_ = false;
  return true;
}

bool CSystemTray::HideIcon() {
  std::lock_guard lock(mutex_);
  if (removed_ || hidden_) return true;
  if (!balloons_supported_) {
    RemoveIcon();
    return hidden_;
  }
  const UINT flags = data_.uFlags;
  data_.uFlags = NIF_STATE;
  data_.dwState = NIS_HIDDEN;
  data_.dwStateMask = NIS_HIDDEN;
  hidden_ = Notify(NIM_MODIFY);
  data_.uFlags = flags;
  return hidden_;
}

bool CSystemTray::ShowIcon() {
  std::lock_guard lock(mutex_);
  if (removed_) AddIcon();
  if (!hidden_) return true;
  if (!balloons_supported_) {
    AddIcon();
    return !hidden_;
  }
  const UINT flags = data_.uFlags;
  data_.uFlags = NIF_STATE;
  data_.dwState = 0;
  data_.dwStateMask = NIS_HIDDEN;
  const bool shown = Notify(NIM_MODIFY);
  data_.uFlags = flags;
  if (shown) hidden_ = false;
  return !hidden_;
}

bool CSystemTray::SetIconFocus() {
  std::lock_guard lock(mutex_);
  return Notify(NIM_SETFOCUS);
}

bool CSystemTray::SetIcon(HICON icon) {
  if (icon == nullptr) return false;
  std::lock_guard lock(mutex_);
  data_.hIcon = icon;
  if (hidden_) return true;
  const UINT flags = data_.uFlags;
  data_.uFlags = NIF_ICON;
  const bool changed = Notify(NIM_MODIFY);
  data_.uFlags = flags | NIF_ICON;
  return changed;
}

bool CSystemTray::SetIcon(UINT resource_id) {
  if (resource_id == 0) return false;
  std::lock_guard lock(mutex_);
  auto cached = icon_cache_.find(resource_id);
  if (cached != icon_cache_.end()) return SetIcon(cached->second);
  HICON icon = LoadIconImage(resource_id);
  if (icon != nullptr) icon_cache_.emplace(resource_id, icon);
  return SetIcon(icon);
}

bool CSystemTray::ShowBalloon(const char16_t* text, const char16_t* title, uint32_t icon_flags,
                              UINT timeout_s) {
  if (!balloons_supported_) return false;
  std::lock_guard lock(mutex_);
  const UINT flags = data_.uFlags;
  data_.uFlags = NIF_INFO;
  CopyToField(data_.szInfo, kInfoLength, text);
  CopyToField(data_.szInfoTitle, kInfoTitleLength, title);
  data_.dwInfoFlags = icon_flags;
  data_.uTimeout = BalloonTimeout(timeout_s);
  const bool shown = Notify(NIM_MODIFY);
  data_.szInfo[0] = 0;
  data_.uFlags = flags;
  return shown;
}

bool CSystemTray::SetMenuText(UINT item, const char16_t* text, bool by_position) {
  std::lock_guard lock(mutex_);
  Menu* popup = TrayMenu();
  if (popup == nullptr) return false;
  const uint32_t command = by_position ? popup->GetMenuItemID(static_cast<int>(item)) : item;
  const uint32_t address = by_position ? MF_BYPOSITION : MF_BYCOMMAND;
  const bool modified = popup->ModifyMenu(item, address | MF_DEFAULT | MF_STRING, command, text);
  // Read as the framework reads it after ModifyMenuW; nothing depends on it.
  (void)KaOSAL::GetLastError();
  PublishMenu();
  return modified;
}

bool CSystemTray::SetMenuDefaultItem(UINT item, bool by_position) {
  std::lock_guard lock(mutex_);
  if (item == default_menu_item_ && by_position == default_by_position_) return true;
  default_menu_item_ = item;
  default_by_position_ = by_position;
  Menu* popup = TrayMenu();
  const bool set = popup != nullptr && popup->SetDefaultItem(item, by_position);
  PublishMenu();
  return set;
}

bool CSystemTray::EnableMenuItem(UINT command, bool enable) {
  std::lock_guard lock(mutex_);
  Menu* popup = TrayMenu();
  if (popup == nullptr) return false;
  const bool found = popup->EnableMenuItem(
                         command, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED)) != kNoMenuItem;
  PublishMenu();
  return found;
}

bool CSystemTray::DeleteMenuItem(UINT command) {
  std::lock_guard lock(mutex_);
  Menu* popup = TrayMenu();
  const bool deleted = popup != nullptr && popup->DeleteMenu(command, MF_BYCOMMAND);
  PublishMenu();
  return deleted;
}

bool CSystemTray::GetTrayMenu(Menu* copy) const {
  std::lock_guard lock(mutex_);
  Menu* popup = TrayMenu();
  if (popup == nullptr) return false;
  *copy = *popup;
  return true;
}

void CSystemTray::SetMenuOpeningWindow(HWND window) {
  std::lock_guard lock(mutex_);
  menu_opening_window_ = window;
}

void CSystemTray::SetTargetWnd(HWND window) {
  std::lock_guard lock(mutex_);
  target_ = window;
  PublishMenu();
}

LRESULT CSystemTray::OnTrayNotification(WPARAM id, LPARAM event) {
  HWND target;
  HWND opening_window;
  {
    std::lock_guard lock(mutex_);
    if (id != data_.uID) return 0;
    target = target_ != nullptr ? target_ : GetMainWindow();
    if (target == nullptr) return 0;
    switch (LowWord(static_cast<uintptr_t>(event))) {
      case NIN_BALLOONUSERCLICK:
      case WM_LBUTTONUP:
      case WM_LBUTTONDBLCLK:
      case WM_RBUTTONUP:
        break;
      default:
        return 1;
    }
    Menu* popup = TrayMenu();
    if (popup == nullptr) return 0;
    popup->SetDefaultItem(default_menu_item_, default_by_position_);
    opening_window = menu_opening_window_;
  }
  // Outside the lock: the refresh changes the menu through this object, and
  // may run on another thread.
  if (opening_window != nullptr && IsWindow(opening_window))
    SendMessage(opening_window, kMenuAboutToOpen, 0, 0);
  Menu shown;
  if (!GetTrayMenu(&shown)) return 0;
  TrackPopupMenu(shown, target);
  PostMessage(target, WM_NULL, 0, 0);
  return 1;
}

void CSystemTray::OnTaskbarCreated() {
  std::lock_guard lock(mutex_);
  if (hidden_ && !show_pending_) return;
  if (!Notify(NIM_ADD)) {
    show_pending_ = true;
    return;
  }
  hidden_ = removed_ = show_pending_ = false;
}

bool CSystemTray::DestroyWindow() {
  std::lock_guard lock(mutex_);
  RemoveIcon();
  // The icon handle belongs to whoever passed it (or to the icon cache).
  data_.hIcon = nullptr;
  menu_.reset();
  return Destroy();
}

bool CSystemTray::IsHidden() const {
  std::lock_guard lock(mutex_);
  return hidden_;
}

bool CSystemTray::IsRemoved() const {
  std::lock_guard lock(mutex_);
  return removed_;
}

bool CSystemTray::IsShowPending() const {
  std::lock_guard lock(mutex_);
  return show_pending_;
}

LRESULT CSystemTray::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == g_taskbar_created || (message == WM_SETTINGCHANGE && wparam == SPI_SETWORKAREA)) {
    OnTaskbarCreated();
    return 0;
  }
  UINT callback_message;
  {
    std::lock_guard lock(mutex_);
    callback_message = data_.uCallbackMessage;
  }
  if (callback_message != 0 && message == callback_message)
    return OnTrayNotification(wparam, lparam);
  return 0;
}

}  // namespace wardex
