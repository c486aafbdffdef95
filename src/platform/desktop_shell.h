// The shell backend of a desktop session. On Windows it is the notification
// area itself: Shell_NotifyIconW, TrackPopupMenu and MessageBoxW, with the
// icons from the program's resources (desktop_shell_win.cc). On Linux it
// lives on the user's D-Bus session bus:
//   the icon    a StatusNotifierItem ("/StatusNotifierItem" under the name
//               org.kde.StatusNotifierItem-PID-1), registered with the
//               StatusNotifierWatcher; a hidden icon is Passive;
//   its menu    com.canonical.dbusmenu at "/MenuBar", published from the
//               tray menu; the host's AboutToShow is the click that makes
//               the icon's handler refresh the menu, its Event a command;
//   balloons    org.freedesktop.Notifications, one notification per icon,
//               replaced in place; its default action is the balloon click;
//   message box a notification with one action per button, waited for.
// A watcher that appears or changes owner is announced as "TaskbarCreated";
// a session bus that goes away closes the main window.
//
// The connection belongs to the user-interface thread: its descriptor and
// time-out are watched by that thread's loop, and every bus call happens
// there. Calls from other threads change the stored state and leave the
// bus work to the loop.
//
// Its parts, each in its own file pair: the connection and its pump
// (desktop_bus_internal.h), the item and its registration
// (status_notifier_item_internal.h), the menu
// (dbus_menu_exporter_internal.h) and the notifications client
// (desktop_notifications_internal.h).
#pragma once

#include <memory>

#include "platform/shell.h"

namespace wardex::platform {

class MessageLoop;

// Connects to the session bus for |loop|, which must be the calling
// thread's loop; null when no session bus is reachable. Release the backend
// on that thread before |loop| ends. On Windows: never null, |loop| unused.
[[nodiscard]] std::shared_ptr<ShellBackend> CreateDesktopShell(MessageLoop& loop);
// Where that backend shows the tray, for the log: "on the session bus", "in
// the notification area".
extern const char16_t kDesktopShellPlace[];

}  // namespace wardex::platform
