#include "platform/desktop_shell.h"

#include "platform/dbus_menu_exporter_internal.h"
#include "platform/desktop_bus_internal.h"
#include "platform/desktop_notifications_internal.h"
#include "platform/status_notifier_item_internal.h"
#include "wardex/crashlog.h"

namespace wardex::platform {

namespace {

using desktop::Balloon;
using desktop::BusConnection;
using desktop::DbusMenuExporter;
using desktop::NotificationsClient;
using desktop::StatusNotifierItem;

// The shell calls on the session bus: the item, its menu and the
// notifications client share one connection, and a flush sends what each
// of them was told since the last one.
class DesktopShell : public ShellBackend {
 public:
  DesktopShell(MessageLoop& loop, sd_bus* bus)
      : bus_(loop, bus),
        item_(bus_),
        menu_(bus_, [this] { item_.DeliverEvent(WM_RBUTTONUP, true); }),
        notifications_(bus_, [this](UINT event) { item_.DeliverEvent(event, false); }) {}
  // The parts' callbacks end with the connection, before the parts go.
  ~DesktopShell() override { bus_.Close(); }

  // Exports the objects and subscribes to the signals; false on failure.
  bool Start();

  bool NotifyIcon(uint32_t message, const NOTIFYICONDATAW& data) override;
  uint32_t TrackPopupMenu(const Menu& popup, HWND owner) override;
  int MessageBox(HWND /*owner*/, const KaOSAL::KaString& text, const KaOSAL::KaString& caption,
                 uint32_t type) override {
    return notifications_.MessageBox(text, caption, type);
  }
  void SetIconMenu(UINT /*id*/, const Menu& popup, HWND target) override {
    menu_.Publish(popup, target);
    bus_.ScheduleFlush();
  }
  bool HasTrayHost() const override { return item_.HasWatcher(); }
  void ShowNotification(const DesktopNotification& notification, NotificationShown shown) override {
    if (!bus_.alive()) {
      shown(false);
      return;
    }
    notifications_.Queue(notification, std::move(shown));
    bus_.ScheduleFlush();
  }

 private:
  void Flush() {
    item_.Flush();
    menu_.Flush();
    notifications_.Flush();
  }

  BusConnection bus_;
  StatusNotifierItem item_;
  DbusMenuExporter menu_;
  NotificationsClient notifications_;
};

bool DesktopShell::Start() {
  if (!bus_.Start([this] { Flush(); })) return false;
  int r = item_.Export();
  if (r >= 0) r = menu_.Export();
  if (r >= 0) r = notifications_.Subscribe();
  if (r < 0) {
    LogW(kLogSysFail, u"SHELL: cannot serve the tray on the session bus, error %d", -r);
    return false;
  }
  item_.LookUpWatcher();
  bus_.Watch();
  return true;
}

bool DesktopShell::NotifyIcon(uint32_t message, const NOTIFYICONDATAW& data) {
  // Without a bus there is nothing to remove; nothing can be shown either.
  if (!bus_.alive()) return message == NIM_DELETE;
  if (message == NIM_SETFOCUS || message == NIM_SETVERSION) return item_.Has(data.uID);
  bool icon_remains = false;
  if (!item_.Apply(message, data, &icon_remains)) return false;
  if (icon_remains && (data.uFlags & NIF_INFO) != 0 && data.szInfo[0] != 0) {
    notifications_.Queue(Balloon{desktop::Utf8(data.szInfoTitle), desktop::Utf8(data.szInfo),
                                 data.dwInfoFlags,
                                 data.uTimeout == 0 ? -1 : static_cast<int32_t>(data.uTimeout)});
  }
  bus_.ScheduleFlush();
  return true;
}

uint32_t DesktopShell::TrackPopupMenu(const Menu& popup, HWND owner) {
  menu_.Publish(popup, owner);
  bus_.ScheduleFlush();
  // The host opens the menu itself; for a click it did not see (a balloon
  // click), ask it to. The choice comes later as an Event.
  if (bus_.OnLoopThread()) menu_.RequestOpen();
  return 0;
}

}  // namespace

const char16_t kDesktopShellPlace[] = u"on the session bus";

std::shared_ptr<ShellBackend> CreateDesktopShell(MessageLoop& loop) {
  sd_bus* bus = nullptr;
  const int r = sd_bus_open_user(&bus);
  if (r < 0) {
    LogW(kLogInfo, u"SHELL: no session bus (error %d)", -r);
    return nullptr;
  }
  auto shell = std::make_shared<DesktopShell>(loop, bus);
  if (!shell->Start()) return nullptr;
  return shell;
}

}  // namespace wardex::platform
