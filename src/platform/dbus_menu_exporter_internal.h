// The tray menu as com.canonical.dbusmenu at "/MenuBar", published from
// the tray menu's copies (dbus_menu_layout.h). The host's AboutToShow is the
// click that makes the icon's handler refresh the menu; its Event a command,
// which waits in a bounded queue for the frame. Internal to the desktop
// backend (desktop_bus_internal.h).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/dbus_menu_layout.h"
#include "platform/desktop_bus_internal.h"
#include "platform/menu.h"

namespace wardex::platform::desktop {

class DbusMenuExporter {
 public:
  // |refresh| has the icon's handler refresh the menu before the host draws
  // it, and returns once it did.
  DbusMenuExporter(BusConnection& bus, std::function<void()> refresh);
  DbusMenuExporter(const DbusMenuExporter&) = delete;
  DbusMenuExporter& operator=(const DbusMenuExporter&) = delete;

  // Exports the menu; sd-bus's result.
  int Export();
  // Takes |popup| as the menu now; commands go to |target| (null: the one
  // before, else the main window). Any thread.
  void Publish(const Menu& popup, HWND target);
  // Loop thread: asks the host to open the menu, unless it is opening it.
  void RequestOpen();
  // Loop thread: tells the host what changed.
  void Flush();

 private:
  void RunQueuedCommands();
  // Reads an AboutToShow for |id|: -1 unknown id, 1 the menu changed, 0 not.
  int AboutToShow(int32_t id);
  // Handles one Event; false for an unknown id; |refused| for a full queue.
  bool Event(int32_t id, const std::string& event_id, bool* refused);
  [[nodiscard]] bool KnownItem(int32_t id) const;

  static int OnGetLayout(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnGetGroupProperties(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnGetProperty(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnEvent(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnEventGroup(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnAboutToShow(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnAboutToShowGroup(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnProperty(sd_bus* bus, const char* path, const char* interface, const char* property,
                        sd_bus_message* reply, void* userdata, sd_bus_error* error);
  static const sd_bus_vtable kVtable[];

  BusConnection& bus_;
  const std::function<void()> refresh_;
  LoopWindow command_post_;  // the queued clicks, one message for all

  // Loop thread only.
  bool in_about_to_show_ = false;

  // Guarded by mutex_: what other threads change.
  mutable std::mutex mutex_;
  std::vector<DbusMenuItem> items_;
  HWND target_ = nullptr;
  uint32_t layout_revision_ = 1;
  uint64_t serial_ = 0;
  bool layout_changed_ = false;
  std::set<int32_t> properties_changed_;
  std::deque<uint32_t> commands_;
};

}  // namespace wardex::platform::desktop
