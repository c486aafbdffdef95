#include "desktop/desktop_peers.h"

#include <cstdarg>
#include <cstdlib>

#include "support/wait.h"

namespace wardex::test {

namespace {

constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kMenuInterface[] = "com.canonical.dbusmenu";
constexpr char kNotifications[] = "org.freedesktop.Notifications";
constexpr char kNotificationsPath[] = "/org/freedesktop/Notifications";

// Reads one a{sv} of menu properties, strings and booleans as text ("true",
// "false"), other values as "".
int ReadProperties(sd_bus_message* m, std::map<std::string, std::string>* properties) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  while (r > 0) {
    r = sd_bus_message_enter_container(m, 'e', "sv");
    if (r <= 0) break;
    const char* name = nullptr;
    const char* type = nullptr;
    r = sd_bus_message_read(m, "s", &name);
    if (r >= 0) r = sd_bus_message_peek_type(m, nullptr, &type);
    if (r < 0) return r;
    const char* text = "";
    int flag = 0;
    if (std::string(type) == "s") {
      r = sd_bus_message_read(m, "v", "s", &text);
    } else if (std::string(type) == "b") {
      r = sd_bus_message_read(m, "v", "b", &flag);
      text = flag ? "true" : "false";
    } else {
      r = sd_bus_message_skip(m, "v");
    }
    if (r < 0) return r;
    (*properties)[name] = text;
    r = sd_bus_message_exit_container(m);
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

}  // namespace

BusPeer::BusPeer(const std::string& address) {
  if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
      sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0) {
    bus_ = sd_bus_unref(bus_);
  }
}

BusPeer::~BusPeer() { sd_bus_flush_close_unref(bus_); }

void BusPeer::Serve(const char* path, const char* interface, const sd_bus_vtable* vtable) {
  if (bus_ != nullptr &&
      (sd_bus_add_object_vtable(bus_, nullptr, path, interface, vtable, this) < 0 ||
       sd_bus_request_name(bus_, interface, 0) < 0)) {
    bus_ = sd_bus_flush_close_unref(bus_);
  }
}

void BusPeer::Pump() {
  if (bus_ == nullptr) return;
  while (sd_bus_process(bus_, nullptr) > 0) {
  }
}

bool PumpUntil(std::initializer_list<BusPeer*> peers, const std::function<bool()>& done,
               std::chrono::milliseconds timeout) {
  return WaitFor(
      [&] {
        for (BusPeer* peer : peers) peer->Pump();
        return done();
      },
      timeout);
}

// --- Watcher ----------------------------------------------------------------

const sd_bus_vtable TestWatcher::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", OnRegisterItem, 0),
    SD_BUS_PROPERTY("RegisteredStatusNotifierItems", "as", OnProperty, 0, 0),
    SD_BUS_SIGNAL("StatusNotifierItemUnregistered", "s", 0),
    SD_BUS_VTABLE_END,
};

TestWatcher::TestWatcher(const std::string& address) : BusPeer(address) {
  Serve("/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher", kVtable);
}

int TestWatcher::OnRegisterItem(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<TestWatcher*>(userdata);
  const char* service = nullptr;
  int r = sd_bus_message_read(m, "s", &service);
  if (r < 0) return r;
  ++self->register_calls;
  const std::string sender = sd_bus_message_get_sender(m);
  r = sd_bus_reply_method_return(m, "");
  if (self->drops > 0) {
    --self->drops;
    if (!self->drop_silently) {
      const std::string item = sender + "/StatusNotifierItem";
      sd_bus_emit_signal(self->bus_, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                         "StatusNotifierItemUnregistered", "s", item.c_str());
    }
  } else {
    self->registrations.push_back(service);
  }
  return r;
}

// RegisteredStatusNotifierItems, the one property the item reads.
int TestWatcher::OnProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                            const char* /*property*/, sd_bus_message* reply, void* userdata,
                            sd_bus_error* /*error*/) {
  auto* self = static_cast<TestWatcher*>(userdata);
  int r = sd_bus_message_open_container(reply, 'a', "s");
  for (const std::string& service : self->registrations) {
    if (r >= 0) r = sd_bus_message_append(reply, "s", service.c_str());
  }
  return r >= 0 ? sd_bus_message_close_container(reply) : r;
}

// --- Notification server ----------------------------------------------------

const sd_bus_vtable TestNotificationServer::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", OnNotify, 0),
    SD_BUS_METHOD("GetCapabilities", "", "as", OnGetCapabilities, 0),
    SD_BUS_METHOD("GetServerInformation", "", "ssss", OnGetServerInformation, 0),
    SD_BUS_SIGNAL("NotificationClosed", "uu", 0),
    SD_BUS_SIGNAL("ActionInvoked", "us", 0),
    SD_BUS_VTABLE_END,
};

TestNotificationServer::TestNotificationServer(const std::string& address,
                                               std::vector<std::string> capabilities,
                                               std::string name)
    : BusPeer(address), capabilities_(std::move(capabilities)), name_(std::move(name)) {
  Serve(kNotificationsPath, kNotifications, kVtable);
}

TestNotificationServer::~TestNotificationServer() {
  for (sd_bus_message* call : unanswered_) sd_bus_message_unref(call);
}

int TestNotificationServer::OnNotify(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<TestNotificationServer*>(userdata);
  Notification n;
  const char* app = nullptr;
  const char* icon = nullptr;
  const char* summary = nullptr;
  const char* body = nullptr;
  int r = sd_bus_message_read(m, "susss", &app, &n.replaces_id, &icon, &summary, &body);
  if (r < 0) return r;
  n.icon = icon;
  n.summary = summary;
  n.body = body;
  char** actions = nullptr;
  sd_bus_message_read_strv(m, &actions);
  for (char** action = actions; action != nullptr && *action != nullptr; ++action) {
    n.actions.push_back(*action);
    free(*action);
  }
  free(actions);
  std::map<std::string, std::string> hints;
  r = ReadProperties(m, &hints);
  n.desktop_entry = hints["desktop-entry"];
  if (r >= 0) r = sd_bus_message_read(m, "i", &n.expire_timeout);
  if (r < 0) return r;
  if (!self->answers) {
    self->notifications.push_back(n);
    self->unanswered_.push_back(sd_bus_message_ref(m));
    return 1;
  }
  // As servers do: a replaced notification keeps its id.
  bool replaces = false;
  for (const Notification& old : self->notifications) {
    replaces = replaces || (n.replaces_id != 0 && old.id == n.replaces_id);
  }
  n.id = replaces ? n.replaces_id : self->next_id_++;
  self->notifications.push_back(n);
  return sd_bus_reply_method_return(m, "u", n.id);
}

int TestNotificationServer::OnGetCapabilities(sd_bus_message* m, void* userdata,
                                              sd_bus_error* /*error*/) {
  std::vector<char*> list;
  for (std::string& capability : static_cast<TestNotificationServer*>(userdata)->capabilities_)
    list.push_back(capability.data());
  list.push_back(nullptr);
  sd_bus_message* reply = nullptr;
  int r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0) r = sd_bus_message_append_strv(reply, list.data());
  if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r;
}

int TestNotificationServer::OnGetServerInformation(sd_bus_message* m, void* userdata,
                                                   sd_bus_error* /*error*/) {
  const std::string& name = static_cast<TestNotificationServer*>(userdata)->name_;
  return sd_bus_reply_method_return(m, "ssss", name.c_str(), "wardex", "1", "1.2");
}

void EmitActionInvoked(sd_bus* bus, uint32_t id, const std::string& action) {
  sd_bus_emit_signal(bus, kNotificationsPath, kNotifications, "ActionInvoked", "us", id,
                     action.c_str());
  sd_bus_flush(bus);
}

void TestNotificationServer::InvokeAction(uint32_t id, const std::string& action) {
  EmitActionInvoked(bus_, id, action);
}

void TestNotificationServer::Close(uint32_t id, uint32_t reason) {
  sd_bus_emit_signal(bus_, kNotificationsPath, kNotifications, "NotificationClosed", "uu", id,
                     reason);
}

// --- Tray host --------------------------------------------------------------

TestTrayHost::TestTrayHost(const std::string& address, std::string item)
    : BusPeer(address), item_(std::move(item)) {
  if (bus_ == nullptr) return;
  for (const char* interface : {kItemInterface, kMenuInterface}) {
    const std::string rule = "type='signal',sender='" + item_ + "',interface='" + interface + "'";
    if (sd_bus_add_match(bus_, nullptr, rule.c_str(), OnSignal, this) < 0) {
      bus_ = sd_bus_flush_close_unref(bus_);
      return;
    }
  }
}

int TestTrayHost::OnSignal(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<TestTrayHost*>(userdata);
  std::string entry = sd_bus_message_get_member(m);
  if (entry == "NewStatus") {
    const char* status = nullptr;
    if (sd_bus_message_read(m, "s", &status) >= 0) entry += std::string(":") + status;
  } else if (entry == "ItemsPropertiesUpdated") {
    // "ItemsPropertiesUpdated:id=label,..."
    entry += ":";
    const bool list = sd_bus_message_enter_container(m, 'a', "(ia{sv})") > 0;
    while (list && sd_bus_message_enter_container(m, 'r', "ia{sv}") > 0) {
      int32_t id = 0;
      std::map<std::string, std::string> properties;
      if (sd_bus_message_read(m, "i", &id) < 0 || ReadProperties(m, &properties) < 0) break;
      sd_bus_message_exit_container(m);
      entry += std::to_string(id) + "=" + properties["label"] + "/" + properties["enabled"] + ",";
    }
  }
  self->signals.push_back(entry);
  return 0;
}

std::string TestTrayHost::ItemString(const std::string& property) {
  char* value = nullptr;
  const int r = sd_bus_get_property_string(bus_, item_.c_str(), "/StatusNotifierItem",
                                           kItemInterface, property.c_str(), nullptr, &value);
  const std::string result = r >= 0 ? value : "";
  free(value);
  return result;
}

std::string TestTrayHost::ToolTipTitle() {
  sd_bus_message* reply = nullptr;
  const char* title = nullptr;
  if (sd_bus_get_property(bus_, item_.c_str(), "/StatusNotifierItem", kItemInterface, "ToolTip",
                          nullptr, &reply, "(sa(iiay)ss)") >= 0 &&
      sd_bus_message_enter_container(reply, 'r', "sa(iiay)ss") > 0 &&
      sd_bus_message_skip(reply, "sa(iiay)") >= 0)
    sd_bus_message_read(reply, "s", &title);
  const std::string text = title != nullptr ? title : "";
  sd_bus_message_unref(reply);
  return text;
}

std::vector<std::string> TestTrayHost::IconPixmaps() {
  std::vector<std::string> pixmaps;
  sd_bus_message* reply = nullptr;
  if (sd_bus_get_property(bus_, item_.c_str(), "/StatusNotifierItem", kItemInterface, "IconPixmap",
                          nullptr, &reply, "a(iiay)") >= 0 &&
      sd_bus_message_enter_container(reply, 'a', "(iiay)") > 0) {
    while (sd_bus_message_enter_container(reply, 'r', "iiay") > 0) {
      int32_t width = 0;
      int32_t height = 0;
      const uint8_t* data = nullptr;
      size_t bytes = 0;
      if (sd_bus_message_read(reply, "ii", &width, &height) < 0 ||
          sd_bus_message_read_array(reply, 'y', reinterpret_cast<const void**>(&data), &bytes) < 0)
        break;
      bool opaque = false;
      for (size_t i = 0; i + 3 < bytes; i += 4) opaque |= data[i] == 255;
      std::string pixmap = std::to_string(width) + "x" + std::to_string(height);
      if (bytes != static_cast<size_t>(width) * height * 4)
        pixmap += " " + std::to_string(bytes) + " bytes";
      pixmaps.push_back(pixmap + (opaque ? "" : " clear"));
      sd_bus_message_exit_container(reply);
    }
  }
  sd_bus_message_unref(reply);
  return pixmaps;
}

int TestTrayHost::CallMenu(const char* member, sd_bus_message** reply, std::string* error,
                           const char* types, ...) {
  sd_bus_error failure = SD_BUS_ERROR_NULL;
  va_list arguments;
  va_start(arguments, types);
  const int r = sd_bus_call_methodv(bus_, item_.c_str(), "/MenuBar", kMenuInterface, member,
                                    &failure, reply, types, arguments);
  va_end(arguments);
  if (r < 0 && error != nullptr) *error = failure.name != nullptr ? failure.name : "failed";
  sd_bus_error_free(&failure);
  return r;
}

bool TestTrayHost::GetLayout(Layout* layout, std::string* error) {
  sd_bus_message* reply = nullptr;
  int r = CallMenu("GetLayout", &reply, error, "iias", 0, -1, 0);
  *layout = Layout{};
  if (r >= 0) r = sd_bus_message_skip(reply, "u");  // the revision
  if (r >= 0) r = sd_bus_message_enter_container(reply, 'r', "ia{sv}av");
  int32_t root_id = -1;
  if (r >= 0) r = sd_bus_message_read(reply, "i", &root_id);
  if (r >= 0) r = ReadProperties(reply, &layout->root);
  if (r >= 0) r = sd_bus_message_enter_container(reply, 'a', "v");
  while (r > 0) {
    r = sd_bus_message_enter_container(reply, 'v', "(ia{sv}av)");
    if (r <= 0) break;
    MenuItem item;
    r = sd_bus_message_enter_container(reply, 'r', "ia{sv}av");
    if (r >= 0) r = sd_bus_message_read(reply, "i", &item.id);
    if (r >= 0) r = ReadProperties(reply, &item.properties);
    if (r >= 0) r = sd_bus_message_skip(reply, "av");
    if (r >= 0) r = sd_bus_message_exit_container(reply);
    if (r >= 0) r = sd_bus_message_exit_container(reply);
    layout->items.push_back(item);
  }
  sd_bus_message_unref(reply);
  return r >= 0 && root_id == 0;
}

bool TestTrayHost::AboutToShow(int32_t id, bool* changed, std::string* error) {
  sd_bus_message* reply = nullptr;
  int r = CallMenu("AboutToShow", &reply, error, "i", id);
  int value = 0;
  if (r >= 0) r = sd_bus_message_read(reply, "b", &value);
  *changed = value != 0;
  sd_bus_message_unref(reply);
  return r >= 0;
}

bool TestTrayHost::Event(int32_t id, const std::string& event_id, std::string* error) {
  return CallMenu("Event", nullptr, error, "isvu", id, event_id.c_str(), "i", 0, 0u) >= 0;
}

std::string TestTrayHost::CallMenuRaw(const char* member, const char* signature, int32_t value) {
  const std::string types = signature;
  std::string error;
  const int r = types == "i"    ? CallMenu(member, nullptr, &error, "i", value)
                : types == "s"  ? CallMenu(member, nullptr, &error, "s", "x")
                : types == "ai" ? CallMenu(member, nullptr, &error, "ai", 1, value)
                                : CallMenu(member, nullptr, &error, "");
  return r >= 0 ? "" : error;
}

bool TestTrayHost::CallItem(const std::string& member) {
  return sd_bus_call_method(bus_, item_.c_str(), "/StatusNotifierItem", kItemInterface,
                            member.c_str(), nullptr, nullptr, "ii", 10, 10) >= 0;
}

}  // namespace wardex::test
