#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "platform/dbus_menu_exporter_internal.h"

namespace wardex::platform::desktop {

namespace {

constexpr char kMenuInterface[] = "com.canonical.dbusmenu";
constexpr char kUnknownIdError[] = "com.canonical.dbusmenu.Error.UnknownId";
constexpr char kLimitsError[] = "org.freedesktop.DBus.Error.LimitsExceeded";

// Clicks waiting for the frame; more are refused with a D-Bus error.
constexpr size_t kMaxQueuedCommands = 8;
constexpr UINT kCommandsMessage = WM_USER + 2;

// Whether the host asked for |name|: an empty list asks for every property.
bool Wanted(const std::vector<std::string>& names, const char* name) {
  return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
}

// Appends the a{sv} of the root (id 0) or of |item|.
int AppendProperties(sd_bus_message* m, const DbusMenuItem* item,
                     const std::vector<std::string>& names) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  const auto add = [&](const char* name, const char* type, auto value) {
    if (r >= 0 && Wanted(names, name)) r = sd_bus_message_append(m, "{sv}", name, type, value);
  };
  if (item == nullptr) {
    // Without it some hosts show no menu at all.
    add("children-display", "s", "submenu");
  } else if (item->separator) {
    add("type", "s", "separator");
  } else {
    add("label", "s", item->label.c_str());
    add("enabled", "b", static_cast<int>(item->enabled));
  }
  return r >= 0 ? sd_bus_message_close_container(m) : r;
}

// Appends the (ia{sv}av) of |item| (null: the root with |children|).
int AppendLayout(sd_bus_message* m, const DbusMenuItem* item,
                 const std::vector<DbusMenuItem>* children, const std::vector<std::string>& names) {
  int r = sd_bus_message_open_container(m, 'r', "ia{sv}av");
  if (r >= 0) r = sd_bus_message_append(m, "i", item != nullptr ? item->id : 0);
  if (r >= 0) r = AppendProperties(m, item, names);
  if (r >= 0) r = sd_bus_message_open_container(m, 'a', "v");
  if (children != nullptr) {
    for (const DbusMenuItem& child : *children) {
      if (r >= 0) r = sd_bus_message_open_container(m, 'v', "(ia{sv}av)");
      if (r >= 0) r = AppendLayout(m, &child, nullptr, names);
      if (r >= 0) r = sd_bus_message_close_container(m);
    }
  }
  if (r >= 0) r = sd_bus_message_close_container(m);
  return r >= 0 ? sd_bus_message_close_container(m) : r;
}

}  // namespace

DbusMenuExporter::DbusMenuExporter(BusConnection& bus, std::function<void()> refresh)
    : bus_(bus), refresh_(std::move(refresh)), command_post_([this](UINT message, WPARAM) {
        if (message == kCommandsMessage) RunQueuedCommands();
      }) {}

int DbusMenuExporter::Export() {
  if (command_post_.Register() == nullptr) return -ENOMEM;
  return sd_bus_add_object_vtable(bus_.get(), nullptr, kMenuPath, kMenuInterface, kVtable, this);
}

// --- The published menu -----------------------------------------------------

void DbusMenuExporter::Publish(const Menu& popup, HWND target) {
  std::vector<DbusMenuItem> items = DbusMenuItems(popup);
  std::lock_guard lock(mutex_);
  if (target != nullptr) target_ = target;
  const DbusMenuChange change = CompareDbusMenus(items_, items);
  if (!change.layout && change.properties.empty()) return;
  items_ = std::move(items);
  ++serial_;
  if (change.layout) {
    layout_changed_ = true;
    properties_changed_.clear();
  } else if (!layout_changed_) {
    properties_changed_.insert(change.properties.begin(), change.properties.end());
  }
}

void DbusMenuExporter::RequestOpen() {
  if (in_about_to_show_ || !bus_.connected()) return;
  sd_bus_emit_signal(bus_.get(), kMenuPath, kMenuInterface, "ItemActivationRequested", "iu", 0,
                     static_cast<uint32_t>(MonotonicMicroseconds() / 1000));
  if (!bus_.processing()) bus_.Rearm();
}

void DbusMenuExporter::Flush() {
  bool layout_changed = false;
  uint32_t revision = 0;
  std::vector<DbusMenuItem> changed_items;
  {
    std::lock_guard lock(mutex_);
    layout_changed = std::exchange(layout_changed_, false);
    if (layout_changed) revision = ++layout_revision_;
    for (int32_t id : properties_changed_) {
      for (const DbusMenuItem& item : items_) {
        if (item.id == id) changed_items.push_back(item);
      }
    }
    properties_changed_.clear();
  }
  if (layout_changed) {
    sd_bus_emit_signal(bus_.get(), kMenuPath, kMenuInterface, "LayoutUpdated", "ui", revision, 0);
    return;
  }
  if (changed_items.empty()) return;
  sd_bus_message* m = nullptr;
  if (sd_bus_message_new_signal(bus_.get(), &m, kMenuPath, kMenuInterface,
                                "ItemsPropertiesUpdated") < 0) {
    return;
  }
  sd_bus_message_open_container(m, 'a', "(ia{sv})");
  for (const DbusMenuItem& item : changed_items) {
    sd_bus_message_append(m, "(ia{sv})", item.id, 2, "label", "s", item.label.c_str(), "enabled",
                          "b", item.enabled);
  }
  sd_bus_message_close_container(m);
  sd_bus_message_append(m, "a(ias)", 0);
  sd_bus_send(bus_.get(), m, nullptr);
  sd_bus_message_unref(m);
}

bool DbusMenuExporter::KnownItem(int32_t id) const {
  std::lock_guard lock(mutex_);
  return id == 0 || std::any_of(items_.begin(), items_.end(),
                                [id](const DbusMenuItem& item) { return item.id == id; });
}

// --- Reading the menu -------------------------------------------------------

int DbusMenuExporter::OnGetLayout(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DbusMenuExporter*>(userdata);
  int32_t parent = 0;
  int32_t depth = 0;
  std::vector<std::string> names;
  int r = sd_bus_message_read(m, "ii", &parent, &depth);
  if (r >= 0) r = ReadStrings(m, &names);
  if (r < 0) return r;
  std::vector<DbusMenuItem> items;
  uint32_t revision;
  {
    std::lock_guard lock(self->mutex_);
    items = self->items_;
    revision = self->layout_revision_;
  }
  const DbusMenuItem* item = nullptr;
  if (parent != 0) {
    auto found = std::find_if(items.begin(), items.end(),
                              [parent](const DbusMenuItem& i) { return i.id == parent; });
    if (found == items.end())
      return sd_bus_error_setf(error, kUnknownIdError, "no item %d", parent);
    item = &*found;
  }
  sd_bus_message* reply = nullptr;
  r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0) r = sd_bus_message_append(reply, "u", revision);
  if (r >= 0)
    r = AppendLayout(reply, item, item == nullptr && depth != 0 ? &items : nullptr, names);
  if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r;
}

int DbusMenuExporter::OnGetGroupProperties(sd_bus_message* m, void* userdata,
                                           sd_bus_error* /*error*/) {
  auto* self = static_cast<DbusMenuExporter*>(userdata);
  const int32_t* ids = nullptr;
  size_t size = 0;
  std::vector<std::string> names;
  int r = sd_bus_message_read_array(m, 'i', reinterpret_cast<const void**>(&ids), &size);
  if (r >= 0) r = ReadStrings(m, &names);
  if (r < 0) return r;
  const size_t count = size / sizeof(int32_t);
  std::vector<DbusMenuItem> items;
  {
    std::lock_guard lock(self->mutex_);
    items = self->items_;
  }
  sd_bus_message* reply = nullptr;
  r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0) r = sd_bus_message_open_container(reply, 'a', "(ia{sv})");
  for (size_t i = 0; i < count && r >= 0; ++i) {
    const int32_t id = ids[i];
    auto found = std::find_if(items.begin(), items.end(),
                              [id](const DbusMenuItem& item) { return item.id == id; });
    // Ids the menu does not have are left out, as the interface asks.
    if (id != 0 && found == items.end()) continue;
    r = sd_bus_message_open_container(reply, 'r', "ia{sv}");
    if (r >= 0) r = sd_bus_message_append(reply, "i", id);
    if (r >= 0) r = AppendProperties(reply, id == 0 ? nullptr : &*found, names);
    if (r >= 0) r = sd_bus_message_close_container(reply);
  }
  if (r >= 0) r = sd_bus_message_close_container(reply);
  if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r;
}

int DbusMenuExporter::OnGetProperty(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DbusMenuExporter*>(userdata);
  int32_t id = 0;
  const char* name = nullptr;
  int r = sd_bus_message_read(m, "is", &id, &name);
  if (r < 0) return r;
  std::optional<DbusMenuItem> item;
  if (id != 0) {
    std::lock_guard lock(self->mutex_);
    for (const DbusMenuItem& candidate : self->items_) {
      if (candidate.id == id) item = candidate;
    }
    if (!item) return sd_bus_error_setf(error, kUnknownIdError, "no item %d", id);
  }
  const std::string property = name;
  if (id == 0 && property == "children-display") {
    return sd_bus_reply_method_return(m, "v", "s", "submenu");
  }
  if (item && item->separator && property == "type") {
    return sd_bus_reply_method_return(m, "v", "s", "separator");
  }
  if (item && !item->separator && property == "label") {
    return sd_bus_reply_method_return(m, "v", "s", item->label.c_str());
  }
  if (item && !item->separator && property == "enabled") {
    return sd_bus_reply_method_return(m, "v", "b", static_cast<int>(item->enabled));
  }
  return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "item %d has no property %s", id,
                           name);
}

int DbusMenuExporter::OnProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                                 const char* property, sd_bus_message* reply, void* /*userdata*/,
                                 sd_bus_error* /*error*/) {
  const std::string name = property;
  if (name == "Version") return sd_bus_message_append(reply, "u", 3u);
  if (name == "TextDirection") return sd_bus_message_append(reply, "s", "ltr");
  if (name == "Status") return sd_bus_message_append(reply, "s", "normal");
  return sd_bus_message_append(reply, "as", 0);  // IconThemePath
}

// --- Clicks -----------------------------------------------------------------

bool DbusMenuExporter::Event(int32_t id, const std::string& event_id, bool* refused) {
  *refused = false;
  std::lock_guard lock(mutex_);
  auto found = std::find_if(items_.begin(), items_.end(),
                            [id](const DbusMenuItem& item) { return item.id == id; });
  if (id != 0 && found == items_.end()) return false;
  // Hovering, opening and closing change nothing; a grey item is not chosen.
  if (event_id != "clicked" || id == 0 || found->separator || !found->enabled) return true;
  if (commands_.size() >= kMaxQueuedCommands) {
    *refused = true;
    return true;
  }
  commands_.push_back(found->command);
  // One message carries every queued command, so the loop's queue stays short.
  if (commands_.size() == 1) PostMessage(command_post_.hwnd(), kCommandsMessage, 0, 0);
  return true;
}

void DbusMenuExporter::RunQueuedCommands() {
  for (;;) {
    uint32_t command;
    HWND target;
    {
      std::lock_guard lock(mutex_);
      if (commands_.empty()) return;
      command = commands_.front();
      commands_.pop_front();
      target = target_ != nullptr ? target_ : GetMainWindow();
    }
    if (target != nullptr) SendMessage(target, WM_COMMAND, command, 0);
  }
}

int DbusMenuExporter::OnEvent(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DbusMenuExporter*>(userdata);
  int32_t id = 0;
  const char* event_id = nullptr;
  uint32_t timestamp = 0;
  int r = sd_bus_message_read(m, "is", &id, &event_id);
  if (r >= 0) r = sd_bus_message_skip(m, "v");
  if (r >= 0) r = sd_bus_message_read(m, "u", &timestamp);
  if (r < 0) return r;
  bool refused = false;
  if (!self->Event(id, event_id, &refused)) {
    return sd_bus_error_setf(error, kUnknownIdError, "no item %d", id);
  }
  if (refused) return sd_bus_error_set(error, kLimitsError, "too many clicks waiting");
  return sd_bus_reply_method_return(m, "");
}

int DbusMenuExporter::OnEventGroup(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DbusMenuExporter*>(userdata);
  std::vector<int32_t> unknown;
  size_t events = 0;
  bool refused = false;
  int r = sd_bus_message_enter_container(m, 'a', "(isvu)");
  while (r > 0) {
    r = sd_bus_message_enter_container(m, 'r', "isvu");
    if (r <= 0) break;
    int32_t id = 0;
    const char* event_id = nullptr;
    uint32_t timestamp = 0;
    r = sd_bus_message_read(m, "is", &id, &event_id);
    if (r >= 0) r = sd_bus_message_skip(m, "v");
    if (r >= 0) r = sd_bus_message_read(m, "u", &timestamp);
    if (r >= 0) r = sd_bus_message_exit_container(m);
    if (r < 0) return r;
    ++events;
    bool full = false;
    if (!self->Event(id, event_id, &full)) unknown.push_back(id);
    refused = refused || full;
  }
  if (r < 0) return r;
  if (refused) return sd_bus_error_set(error, kLimitsError, "too many clicks waiting");
  if (events > 0 && unknown.size() == events) {
    return sd_bus_error_set(error, kUnknownIdError, "no such items");
  }
  sd_bus_message* reply = nullptr;
  r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0) r = sd_bus_message_append_array(reply, 'i', unknown.data(), unknown.size() * 4);
  if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r;
}

// --- The menu about to open -------------------------------------------------

int DbusMenuExporter::AboutToShow(int32_t id) {
  if (!KnownItem(id)) return -1;
  if (id != 0) return 0;
  uint64_t serial_before;
  {
    std::lock_guard lock(mutex_);
    serial_before = serial_;
  }
  // The host's "menu about to open" is the click of the Windows taskbar:
  // the icon's handler refreshes the menu before it is drawn.
  in_about_to_show_ = true;
  refresh_();
  in_about_to_show_ = false;
  std::lock_guard lock(mutex_);
  return serial_ != serial_before ? 1 : 0;
}

int DbusMenuExporter::OnAboutToShow(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DbusMenuExporter*>(userdata);
  int32_t id = 0;
  const int r = sd_bus_message_read(m, "i", &id);
  if (r < 0) return r;
  const int changed = self->AboutToShow(id);
  if (changed < 0) return sd_bus_error_setf(error, kUnknownIdError, "no item %d", id);
  return sd_bus_reply_method_return(m, "b", changed);
}

int DbusMenuExporter::OnAboutToShowGroup(sd_bus_message* m, void* userdata,
                                         sd_bus_error* /*error*/) {
  auto* self = static_cast<DbusMenuExporter*>(userdata);
  const int32_t* ids = nullptr;
  size_t size = 0;
  int r = sd_bus_message_read_array(m, 'i', reinterpret_cast<const void**>(&ids), &size);
  if (r < 0) return r;
  // Copied: the refresh may run the bus again.
  const std::vector<int32_t> requested(ids, ids + size / sizeof(int32_t));
  std::vector<int32_t> updated;
  std::vector<int32_t> unknown;
  for (int32_t id : requested) {
    const int changed = self->AboutToShow(id);
    if (changed < 0) unknown.push_back(id);
    if (changed > 0) updated.push_back(id);
  }
  sd_bus_message* reply = nullptr;
  r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0) r = sd_bus_message_append_array(reply, 'i', updated.data(), updated.size() * 4);
  if (r >= 0) r = sd_bus_message_append_array(reply, 'i', unknown.data(), unknown.size() * 4);
  if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r;
}

const sd_bus_vtable DbusMenuExporter::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Version", "u", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("TextDirection", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "as", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", OnGetLayout, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})", OnGetGroupProperties,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetProperty", "is", "v", OnGetProperty, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Event", "isvu", "", OnEvent, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", OnEventGroup, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShow", "i", "b", OnAboutToShow, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", OnAboutToShowGroup, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
    SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
    SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
    SD_BUS_VTABLE_END,
};

}  // namespace wardex::platform::desktop
