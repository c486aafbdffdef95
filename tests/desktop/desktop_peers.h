// Peers of the agent on a private session bus, written against the
// protocols alone: a StatusNotifierWatcher, a notification server and a
// tray host that reads the item and drives its menu. Each has a connection
// of its own; the test thread pumps them (PumpUntil), so no peer needs a
// thread and every peer's state is read without locks.
#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace wardex::test {

class BusPeer {
 public:
  explicit BusPeer(const std::string& address);
  virtual ~BusPeer();
  BusPeer(const BusPeer&) = delete;
  BusPeer& operator=(const BusPeer&) = delete;

  [[nodiscard]] bool ok() const { return bus_ != nullptr; }
  // Handles whatever the bus has for this peer, without blocking.
  void Pump();
  [[nodiscard]] sd_bus* bus() const { return bus_; }

 protected:
  // Serves |vtable| on |path| under the well-known name |interface|; closes
  // the connection when either fails.
  void Serve(const char* path, const char* interface, const sd_bus_vtable* vtable);
  sd_bus* bus_ = nullptr;
};

// Pumps |peers| until |done| holds or |timeout| passed; the final answer.
bool PumpUntil(std::initializer_list<BusPeer*> peers, const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(15000));

// org.kde.StatusNotifierWatcher: records the items that register. It drops
// the next |drops| registrations again as GNOME's AppIndicator extension does
// when it loses its race (StatusNotifierItemUnregistered, unless silently).
class TestWatcher : public BusPeer {
 public:
  explicit TestWatcher(const std::string& address);
  std::vector<std::string> registrations;  // the services it lists, as the items passed them
  int register_calls = 0;
  int drops = 0;
  bool drop_silently = false;

 private:
  static int OnRegisterItem(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnProperty(sd_bus* bus, const char* path, const char* interface, const char* property,
                        sd_bus_message* reply, void* userdata, sd_bus_error* error);
  static const sd_bus_vtable kVtable[];
};

// org.freedesktop.Notifications: records Notify calls, gives ids from 1 up,
// and invokes actions or closes notifications when the test says so. It
// names itself |name| (GetServerInformation), as servers that differ do.
class TestNotificationServer : public BusPeer {
 public:
  TestNotificationServer(const std::string& address, std::vector<std::string> capabilities,
                         std::string name = "test");
  ~TestNotificationServer() override;
  struct Notification {
    uint32_t replaces_id = 0;
    std::string icon;
    std::string summary;
    std::string body;
    std::vector<std::string> actions;
    std::string desktop_entry;  // the hint the server reads
    int32_t expire_timeout = 0;
    uint32_t id = 0;  // what the server answered
  };
  std::vector<Notification> notifications;
  // False: Notify calls are recorded but never answered, as by a stalled server.
  bool answers = true;

  void InvokeAction(uint32_t id, const std::string& action);
  void Close(uint32_t id, uint32_t reason);

 private:
  static int OnNotify(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnGetCapabilities(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnGetServerInformation(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static const sd_bus_vtable kVtable[];

  std::vector<std::string> capabilities_;
  const std::string name_;
  uint32_t next_id_ = 1;
  std::vector<sd_bus_message*> unanswered_;
};

// Sends the notification server's ActionInvoked signal from |bus|: from the
// server, or from another program that pretends to be it.
void EmitActionInvoked(sd_bus* bus, uint32_t id, const std::string& action);

// A tray host: reads the item's properties and calls its menu.
class TestTrayHost : public BusPeer {
 public:
  // |item| is the item's bus name, as the watcher was given it.
  TestTrayHost(const std::string& address, std::string item);

  struct MenuItem {
    int32_t id = 0;
    std::map<std::string, std::string> properties;  // values as text: "true", "false", labels
  };
  struct Layout {
    std::map<std::string, std::string> root;
    std::vector<MenuItem> items;
  };
  // A string property of the item; "" on failure.
  std::string ItemString(const std::string& property);
  std::string ToolTipTitle();
  // The item's pixmaps as "WxH", with " N bytes" where the data is not W x H
  // ARGB pixels and " clear" where no pixel is opaque.
  std::vector<std::string> IconPixmaps();
  bool GetLayout(Layout* layout, std::string* error = nullptr);
  // AboutToShow(id): false with |error| for a D-Bus error.
  bool AboutToShow(int32_t id, bool* changed, std::string* error = nullptr);
  bool Event(int32_t id, const std::string& event_id, std::string* error = nullptr);
  // Calls |member| of the menu with |signature| and no arguments or with one
  // int32 argument; the D-Bus error name, or "" when it was answered.
  std::string CallMenuRaw(const char* member, const char* signature, int32_t value);
  // Clicks on the item itself: Activate, SecondaryActivate or ContextMenu.
  bool CallItem(const std::string& member);

  // Signals of the item and its menu, by member name, in arrival order.
  std::vector<std::string> signals;

 private:
  // Calls |member| of the item's menu with |types| and the arguments after
  // them; the D-Bus error's name goes to |error|.
  int CallMenu(const char* member, sd_bus_message** reply, std::string* error, const char* types,
               ...);
  static int OnSignal(sd_bus_message* m, void* userdata, sd_bus_error* error);
  std::string item_;
};

}  // namespace wardex::test
