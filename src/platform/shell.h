// The shell's notification area (Shell_NotifyIconW), the pop-up menu at the
// pointer (TrackPopupMenu) and message boxes, each passed to a backend:
//   headless  every call succeeds; the icon's state and each balloon are
//             logged. Menus are not shown, message boxes answer IDCANCEL.
//   desktop   StatusNotifierItem, its menu and notifications on the
//             session bus (desktop_shell.h).
//   library   a signed library's own backend (tests bring theirs this way).
// The program picks one with InstallShellBackendFromEnvironment; until then
// the headless backend answers. All calls are safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "osal/ka_string.h"
#include "platform/library_loader.h"
#include "platform/menu.h"
#include "platform/resources.h"
#include "platform/window_messages.h"
#include "wardex/console_host.h"

namespace wardex::platform {

class MessageLoop;

// Shell_NotifyIconW messages.
inline constexpr uint32_t NIM_ADD = 0x0;
inline constexpr uint32_t NIM_MODIFY = 0x1;
inline constexpr uint32_t NIM_DELETE = 0x2;
inline constexpr uint32_t NIM_SETFOCUS = 0x3;
inline constexpr uint32_t NIM_SETVERSION = 0x4;
// Which fields of the notification data are valid.
inline constexpr uint32_t NIF_MESSAGE = 0x01;
inline constexpr uint32_t NIF_ICON = 0x02;
inline constexpr uint32_t NIF_TIP = 0x04;
inline constexpr uint32_t NIF_STATE = 0x08;
inline constexpr uint32_t NIF_INFO = 0x10;
inline constexpr uint32_t NIS_HIDDEN = 0x1;
// Balloon icons.
inline constexpr uint32_t NIIF_NONE = 0x0;
inline constexpr uint32_t NIIF_INFO = 0x1;
inline constexpr uint32_t NIIF_WARNING = 0x2;
inline constexpr uint32_t NIIF_ERROR = 0x3;

// Field lengths in characters, terminator included.
inline constexpr int kTipLength = 128;
inline constexpr int kInfoLength = 256;
inline constexpr int kInfoTitleLength = 64;
// The size that the agent writes into cbSize: the Windows structure with the
// balloon fields and the item GUID. Kept as the system's value; our record
// is laid out for this platform and the backends do not read it.
inline constexpr uint32_t kNotifyIconDataSize = 952;

struct NOTIFYICONDATAW {
  uint32_t cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  char16_t szTip[kTipLength];
  uint32_t dwState;
  uint32_t dwStateMask;
  char16_t szInfo[kInfoLength];
  UINT uTimeout;  // milliseconds; uVersion for NIM_SETVERSION
  char16_t szInfoTitle[kInfoTitleLength];
  uint32_t dwInfoFlags;
};

// Message box styles and answers.
inline constexpr uint32_t MB_OK = 0x000;
inline constexpr uint32_t MB_OKCANCEL = 0x001;
inline constexpr uint32_t MB_ICONQUESTION = 0x020;
inline constexpr uint32_t MB_DEFBUTTON2 = 0x100;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// A notification of the Console's (a message or a news item) with at most
// one button. The agent shows it and owns the button, so that the button
// works for as long as the desktop keeps the notification, whatever became
// of the Console's process. The button starts the command line (split by the
// Windows rules), or opens the link with the desktop's opener.
using DesktopNotification = ConsoleNotification;
// Told once, on any thread, whether the desktop took the notification.
using NotificationShown = std::function<void(bool shown)>;

class ShellBackend {
 public:
  virtual ~ShellBackend() = default;
  virtual bool NotifyIcon(uint32_t message, const NOTIFYICONDATAW& data) = 0;
  // Shows |popup| for |owner| until the user chooses; answers the chosen
  // command, 0 when dismissed.
  virtual uint32_t TrackPopupMenu(const Menu& popup, HWND owner) = 0;
  virtual int MessageBox(HWND owner, const KaOSAL::KaString& text, const KaOSAL::KaString& caption,
                         uint32_t type) = 0;
  // The menu of icon |id| as it is now, for shells whose host draws the
  // menu itself; its commands go to |target| (null: the main window).
  virtual void SetIconMenu(UINT /*id*/, const Menu& /*popup*/, HWND /*target*/) {}
  // False while nothing on the desktop draws tray icons.
  [[nodiscard]] virtual bool HasTrayHost() const { return true; }
  // Shows |notification| without waiting for the desktop. Without one it is
  // logged and |shown| told false.
  virtual void ShowNotification(const DesktopNotification& notification, NotificationShown shown);
};

// What a backend in a library of its own calls in the agent: the library's
// copy of the platform code has none of the agent's windows.
class ShellHost {
 public:
  virtual ~ShellHost() = default;
  virtual bool PostMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) = 0;
  virtual void BroadcastMessage(UINT message, WPARAM wparam, LPARAM lparam) = 0;
  virtual UINT RegisterWindowMessage(const char16_t* name) = 0;
};
// The agent's own host: the calls of ui.h.
ShellHost& AgentShellHost();

// The export of such a library: a new backend calling |host|, which
// outlives it; null when it cannot serve.
using CreateShellBackendFunction = ShellBackend* (*)(ShellHost* host);
inline constexpr char kCreateShellBackendExport[] = "CreateShellBackend";
// The export |name| of the library at |path| once the library passed the
// trust check; null when it was refused, is missing or lacks the export.
using ShellLibraryLoader = std::function<ProcAddress(const std::string& path, const char* name)>;

// The backend that serves the calls below; null puts the headless one back.
void SetShellBackend(std::shared_ptr<ShellBackend> backend);
// Picks the backend from WARDEX_SHELL ("headless", "test" or "desktop";
// unset: desktop when a session bus is reachable, else headless); a full
// path names a library whose kCreateShellBackendExport makes the backend,
// found through |load| (null: no library is loaded). Logs the choice. False
// when the library gave no backend (the headless backend then answers).
[[nodiscard]] bool InstallShellBackendFromEnvironment(MessageLoop& loop,
                                                      const ShellLibraryLoader& load = nullptr);

// Shell_NotifyIconW.
[[nodiscard]] bool Shell_NotifyIcon(uint32_t message, const NOTIFYICONDATAW* data);
// Shows the pop-up menu at the pointer, owned by |owner|; a chosen command
// is posted to |owner| as WM_COMMAND. False when nothing was chosen.
bool TrackPopupMenu(const Menu& popup, HWND owner);
// Tells the shell the menu of icon |id| after every change.
void SetNotifyIconMenu(UINT id, const Menu& popup, HWND target);
// False while the desktop has no host for tray icons (on the shell's thread).
[[nodiscard]] bool HasTrayHost();
// Shows |notification| without waiting; |shown|, when given, is told once.
void ShowDesktopNotification(const DesktopNotification& notification,
                             NotificationShown shown = nullptr);
// MessageBoxW: answers IDOK, IDCANCEL...
int MessageBox(HWND owner, const KaOSAL::KaString& text, const KaOSAL::KaString& caption,
               uint32_t type);

// Copies |text| into |field| of |capacity| characters, cut to capacity - 1
// and terminated; an empty field for null.
void CopyToField(char16_t* field, int capacity, const char16_t* text);
// Applies |data| to |icon| as Shell_NotifyIconW would for NIM_ADD or
// NIM_MODIFY: only the fields that uFlags names.
void MergeNotifyIconData(const NOTIFYICONDATAW& data, NOTIFYICONDATAW* icon);

}  // namespace wardex::platform
