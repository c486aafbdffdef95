// The tray icon as a StatusNotifierItem: the object "/StatusNotifierItem"
// under the name org.kde.StatusNotifierItem-PID-1, registered with the
// StatusNotifierWatcher; a hidden icon is Passive. A watcher that appears or
// changes owner is announced as "TaskbarCreated". A watcher that drops the
// icon while we still hold the name (GNOME's AppIndicator extension loses a
// race against a quick item) is told again, a few times. A left click
// (Activate) is answered with an error: hosts then open the menu, whose
// AboutToShow refreshes it, as every click does on Windows. Internal to the
// desktop backend (desktop_bus_internal.h).
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/desktop_bus_internal.h"
#include "platform/shell.h"

namespace wardex::platform::desktop {

// The exported icon. At namespace scope so that it is complete before the
// item's std::optional of it is declared (clang needs that for emplace()).
struct ExportedIcon {
  NOTIFYICONDATAW data{};
  bool register_wanted = false;
};

class StatusNotifierItem {
 public:
  explicit StatusNotifierItem(BusConnection& bus);
  StatusNotifierItem(const StatusNotifierItem&) = delete;
  StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

  // Exports the item and follows the watcher's owner; sd-bus's result.
  int Export();
  // Asks who owns the watcher now, after Export's subscription.
  void LookUpWatcher();

  // Applies NIM_ADD, NIM_MODIFY or NIM_DELETE; any thread. False as the
  // Windows shell answers; |icon_remains| tells whether the icon is there
  // afterwards.
  bool Apply(uint32_t message, const NOTIFYICONDATAW& data, bool* icon_remains);
  // True when icon |id| is the one exported.
  [[nodiscard]] bool Has(UINT id) const;
  // Loop thread: owns or releases the name, registers, emits the changes.
  void Flush();
  // Sends the icon's callback message |event| to its window; |wait| runs
  // the handler before returning (the loop thread only).
  void DeliverEvent(UINT event, bool wait);
  // Loop thread: whether a watcher is on the bus.
  [[nodiscard]] bool HasWatcher() const { return !watcher_owner_.empty(); }

 private:
  [[nodiscard]] bool HiddenLocked() const;
  void RegisterWithWatcher();
  // The watcher dropped or does not list the icon: registers it again after
  // a moment, a bounded number of times per watcher.
  void RegisterAgain(const char* why);
  // True when the watcher's |service| (a bus name, maybe with a path) is ours.
  [[nodiscard]] bool IsOurs(const std::string& service) const;
  void OnTimer(UINT_PTR timer);
  void EmitSignal(const char* member);

  static int OnMethod(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnProperty(sd_bus* bus, const char* path, const char* interface, const char* property,
                        sd_bus_message* reply, void* userdata, sd_bus_error* error);
  static int OnWatcherOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnNameRequested(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnRegistered(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnItemUnregistered(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnRegisteredItems(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static const sd_bus_vtable kVtable[];

  BusConnection& bus_;
  const std::string name_;
  LoopWindow timers_;  // the registration's check and the next try

  // Loop thread only.
  int registrations_again_ = 0;  // with the watcher that owns the name now
  bool name_owned_ = false;
  bool name_requested_ = false;
  std::string watcher_owner_;
  std::string registered_with_;
  bool no_watcher_logged_ = false;

  // Guarded by mutex_: what other threads change.
  mutable std::mutex mutex_;
  std::optional<ExportedIcon> icon_;
  bool release_wanted_ = false;
  bool icon_changed_ = false;
  bool tip_changed_ = false;
  bool status_changed_ = false;
};

}  // namespace wardex::platform::desktop
