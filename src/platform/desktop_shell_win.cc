// The shell backend of the Windows desktop: the notification area itself.
// Our notification data becomes the system's NOTIFYICONDATAW, the tray menu
// a pop-up menu built for the moment it is shown, a message box the
// system's own.
#include <cstddef>
#include <cstring>

#include "osal/last_error.h"
#include "platform/desktop_shell.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

::HWND System(HWND hwnd) { return reinterpret_cast<::HWND>(hwnd); }
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The size of the layout with the balloon fields and the item GUID, the one
// the agent was written for (NOTIFYICONDATAW_V3_SIZE, whose macro would name
// our record here).
constexpr DWORD kSystemDataSize = offsetof(::NOTIFYICONDATAW, hBalloonIcon);

// The system's record for |data|.
::NOTIFYICONDATAW SystemData(const NOTIFYICONDATAW& data) {
  ::NOTIFYICONDATAW system = {};
  system.cbSize = kSystemDataSize;
  system.hWnd = System(data.hWnd);
  system.uID = data.uID;
  system.uFlags = data.uFlags;
  system.uCallbackMessage = data.uCallbackMessage;
  system.hIcon = data.hIcon != nullptr ? static_cast<::HICON>(data.hIcon->system_icon) : nullptr;
  static_assert(sizeof(system.szTip) == sizeof(data.szTip));
  static_assert(sizeof(system.szInfo) == sizeof(data.szInfo));
  static_assert(sizeof(system.szInfoTitle) == sizeof(data.szInfoTitle));
  std::memcpy(system.szTip, data.szTip, sizeof(system.szTip));
  system.dwState = data.dwState;
  system.dwStateMask = data.dwStateMask;
  std::memcpy(system.szInfo, data.szInfo, sizeof(system.szInfo));
  system.uTimeout = data.uTimeout;
  std::memcpy(system.szInfoTitle, data.szInfoTitle, sizeof(system.szInfoTitle));
  system.dwInfoFlags = data.dwInfoFlags;
  return system;
}

// A system pop-up menu with |popup|'s items, states and default item; null
// when the system gives none. The caller destroys it.
HMENU BuildMenu(const Menu& popup) {
  HMENU menu = ::CreatePopupMenu();
  if (menu == nullptr) return nullptr;
  for (const Menu::Item& item : popup.items()) {
    if (item.separator) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else if (item.popup) {
      HMENU sub = BuildMenu(*item.popup);
      if (sub != nullptr)
        ::AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), Wide(item.text.c_str()));
    } else {
      ::AppendMenuW(menu, MF_STRING | item.state, item.command, Wide(item.text.c_str()));
    }
  }
  const uint32_t default_position = popup.GetDefaultItem(true);
  if (default_position != kNoMenuItem) ::SetMenuDefaultItem(menu, default_position, TRUE);
  return menu;
}

class NotifyAreaShell final : public ShellBackend {
 public:
  bool NotifyIcon(uint32_t message, const NOTIFYICONDATAW& data) override {
    ::NOTIFYICONDATAW system = SystemData(data);
    if (!::Shell_NotifyIconW(message, &system)) return false;
    // The Windows 2000 behaviour: clicks, the keyboard and balloons are
    // announced as callback messages whose wparam is the icon's id.
    if (message == NIM_ADD) {
      system.uVersion = NOTIFYICON_VERSION;
      ::Shell_NotifyIconW(NIM_SETVERSION, &system);
    }
    return true;
  }

  uint32_t TrackPopupMenu(const Menu& popup, HWND owner) override {
    HMENU menu = BuildMenu(popup);
    if (menu == nullptr) {
      KaOSAL::SetLastError(::GetLastError());
      return 0;
    }
    POINT cursor = {};
    ::GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere.
    ::SetForegroundWindow(System(owner));
    const UINT command =
        ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_LEFTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY,
                         cursor.x, cursor.y, 0, System(owner), nullptr);
    ::DestroyMenu(menu);
    return command;
  }

  int MessageBox(HWND owner, const KaOSAL::KaString& text, const KaOSAL::KaString& caption,
                 uint32_t type) override {
    return ::MessageBoxW(System(owner), Wide(text.c_str()), Wide(caption.c_str()), type);
  }

  bool HasTrayHost() const override { return ::FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }

  // The Console's notifications become balloons of the agent's icon once the
  // Console has its Windows side; until then the Console is told that none
  // was shown, as on a desktop without a notification server.
  void ShowNotification(const DesktopNotification& /*notification*/,
                        NotificationShown shown) override {
    shown(false);
  }
};

}  // namespace

const char16_t kDesktopShellPlace[] = u"in the notification area";

std::shared_ptr<ShellBackend> CreateDesktopShell(MessageLoop& /*loop*/) {
  return std::make_shared<NotifyAreaShell>();
}

}  // namespace wardex::platform
