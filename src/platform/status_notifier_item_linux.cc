#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/shell.h"
#include "platform/icon_pixmap.h"
#include "platform/product_version.h"
#include "platform/status_notifier_item_internal.h"
#include "wardex/crashlog.h"

namespace wardex::platform::desktop {

namespace {

constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
// GNOME's AppIndicator extension drops a quickly answering item about a
// second after it registered it; a watcher is asked whether it lists the
// icon after this long, and told again after a short pause, a few times.
constexpr uint32_t kListCheckMs = 2000;
constexpr uint32_t kRegisterAgainMs = 500;
constexpr int kMaxRegistrationsAgain = 5;
constexpr UINT_PTR kListCheckTimer = 1;
constexpr UINT_PTR kRegisterAgainTimer = 2;

}  // namespace

StatusNotifierItem::StatusNotifierItem(BusConnection& bus)
    : bus_(bus),
      name_("org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1"),
      timers_([this](UINT message, WPARAM timer) {
        if (message == WM_TIMER) OnTimer(timer);
      }) {}

int StatusNotifierItem::Export() {
  if (timers_.Register() == nullptr) return -ENOMEM;
  int r = sd_bus_add_object_vtable(bus_.get(), nullptr, kItemPath, kItemInterface, kVtable, this);
  if (r >= 0) {
    r = sd_bus_add_match(bus_.get(), nullptr,
                         (std::string("type='signal',sender='org.freedesktop.DBus',"
                                      "interface='org.freedesktop.DBus',"
                                      "member='NameOwnerChanged',arg0='") +
                          kWatcherName + "'")
                             .c_str(),
                         OnWatcherOwnerChanged, this);
  }
  if (r >= 0) {
    r = sd_bus_add_match(bus_.get(), nullptr,
                         (std::string("type='signal',interface='") + kWatcherName +
                          "',member='StatusNotifierItemUnregistered'")
                             .c_str(),
                         OnItemUnregistered, this);
  }
  return r;
}

void StatusNotifierItem::LookUpWatcher() {
  sd_bus_message* reply = nullptr;
  if (sd_bus_call_method(bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s",
                         kWatcherName) >= 0) {
    const char* owner = nullptr;
    if (sd_bus_message_read(reply, "s", &owner) >= 0) watcher_owner_ = owner;
  }
  sd_bus_message_unref(reply);
}

// --- The icon's state -------------------------------------------------------

bool StatusNotifierItem::HiddenLocked() const {
  return icon_ && (icon_->data.dwState & NIS_HIDDEN) != 0;
}

bool StatusNotifierItem::Has(UINT id) const {
  std::lock_guard lock(mutex_);
  return icon_ && icon_->data.uID == id;
}

bool StatusNotifierItem::Apply(uint32_t message, const NOTIFYICONDATAW& data, bool* icon_remains) {
  std::lock_guard lock(mutex_);
  const bool ours = icon_ && icon_->data.uID == data.uID;
  switch (message) {
    case NIM_ADD: {
      // One item per connection: hosts find it at the fixed object path.
      if (icon_ && !ours) return false;
      // Adding again registers again, as for a new panel.
      const bool was_hidden = HiddenLocked();
      icon_.emplace();
      MergeNotifyIconData(data, &icon_->data);
      icon_->register_wanted = true;
      icon_changed_ = tip_changed_ = true;
      status_changed_ = status_changed_ || was_hidden != HiddenLocked();
      release_wanted_ = false;
      break;
    }
    case NIM_MODIFY: {
      if (!ours) return false;
      const bool was_hidden = HiddenLocked();
      MergeNotifyIconData(data, &icon_->data);
      icon_changed_ = icon_changed_ || (data.uFlags & NIF_ICON) != 0;
      tip_changed_ = tip_changed_ || (data.uFlags & NIF_TIP) != 0;
      if (was_hidden != HiddenLocked()) {
        status_changed_ = true;
        // An icon hidden through a panel restart meets the new panel now.
        if (!HiddenLocked()) icon_->register_wanted = true;
      }
      break;
    }
    case NIM_DELETE:
      if (!ours) return false;
      icon_.reset();
      release_wanted_ = true;
      break;
    default:
      return false;
  }
  *icon_remains = icon_.has_value();
  return true;
}

void StatusNotifierItem::Flush() {
  bool release = false;
  bool register_wanted = false;
  bool icon_changed = false;
  bool tip_changed = false;
  bool status_changed = false;
  {
    std::lock_guard lock(mutex_);
    release = std::exchange(release_wanted_, false);
    if (icon_) register_wanted = std::exchange(icon_->register_wanted, false);
    icon_changed = std::exchange(icon_changed_, false);
    tip_changed = std::exchange(tip_changed_, false);
    status_changed = std::exchange(status_changed_, false);
  }
  if (release && name_owned_) {
    // The watcher drops an item whose name goes.
    sd_bus_release_name_async(bus_.get(), nullptr, name_.c_str(), nullptr, nullptr);
    name_owned_ = name_requested_ = false;
    registered_with_.clear();
  }
  if (register_wanted) {
    if (!name_owned_ && !name_requested_) {
      name_requested_ = true;
      sd_bus_request_name_async(bus_.get(), nullptr, name_.c_str(), 0, OnNameRequested, this);
    } else if (name_owned_) {
      registered_with_.clear();
      RegisterWithWatcher();
    }
  }
  if (!name_owned_) return;
  if (icon_changed) EmitSignal("NewIcon");
  if (tip_changed) EmitSignal("NewToolTip");
  if (status_changed) {
    std::lock_guard lock(mutex_);
    sd_bus_emit_signal(bus_.get(), kItemPath, kItemInterface, "NewStatus", "s",
                       HiddenLocked() ? "Passive" : "Active");
  }
}

void StatusNotifierItem::EmitSignal(const char* member) {
  sd_bus_emit_signal(bus_.get(), kItemPath, kItemInterface, member, "");
}

void StatusNotifierItem::DeliverEvent(UINT event, bool wait) {
  HWND hwnd;
  UINT callback_message;
  UINT id;
  {
    std::lock_guard lock(mutex_);
    if (!icon_ || icon_->data.uCallbackMessage == 0) return;
    hwnd = icon_->data.hWnd;
    callback_message = icon_->data.uCallbackMessage;
    id = icon_->data.uID;
  }
  if (wait) {
    SendMessage(hwnd, callback_message, id, event);
  } else {
    PostMessage(hwnd, callback_message, id, event);
  }
}

// --- Registration with the watcher ------------------------------------------

int StatusNotifierItem::OnNameRequested(sd_bus_message* m, void* userdata,
                                        sd_bus_error* /*error*/) {
  auto* self = static_cast<StatusNotifierItem*>(userdata);
  self->name_requested_ = false;
  const sd_bus_error* failure = sd_bus_message_get_error(m);
  if (failure != nullptr) {
    LogW(kLogSysFail, u"SHELL: cannot own the bus name %S: %S", self->name_.c_str(),
         failure->message != nullptr ? failure->message : failure->name);
    return 0;
  }
  self->name_owned_ = true;
  {
    std::lock_guard lock(self->mutex_);
    if (!self->icon_) self->release_wanted_ = true;
  }
  // The item's properties may have changed while the name was asked for.
  self->EmitSignal("NewIcon");
  self->EmitSignal("NewToolTip");
  self->RegisterWithWatcher();
  self->bus_.ScheduleFlush();
  return 0;
}

void StatusNotifierItem::RegisterWithWatcher() {
  if (watcher_owner_.empty()) {
    // Not a failure: the icon appears when a watcher comes.
    if (!no_watcher_logged_) LogW(kLogInfo, u"SHELL: no status notifier watcher yet");
    no_watcher_logged_ = true;
    return;
  }
  if (registered_with_ == watcher_owner_) return;
  registered_with_ = watcher_owner_;
  sd_bus_call_method_async(bus_.get(), nullptr, kWatcherName, kWatcherPath, kWatcherName,
                           "RegisterStatusNotifierItem", OnRegistered, this, "s", name_.c_str());
}

int StatusNotifierItem::OnRegistered(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<StatusNotifierItem*>(userdata);
  const sd_bus_error* failure = sd_bus_message_get_error(m);
  if (failure != nullptr) {
    self->registered_with_.clear();
    LogW(kLogError, u"SHELL: the status notifier watcher refused the icon: %S",
         failure->message != nullptr ? failure->message : failure->name);
    return 0;
  }
  self->no_watcher_logged_ = false;
  LogW(kLogInfo, u"SHELL: icon registered with the status notifier watcher");
  // A watcher may drop the icon without a word: it is asked later.
  SetTimer(self->timers_.hwnd(), kListCheckTimer, kListCheckMs);
  return 0;
}

bool StatusNotifierItem::IsOurs(const std::string& service) const {
  const char* unique = nullptr;
  sd_bus_get_unique_name(bus_.get(), &unique);
  for (const std::string& ours : {name_, std::string(unique != nullptr ? unique : "")}) {
    if (!ours.empty() && service.starts_with(ours) &&
        (service.size() == ours.size() || service[ours.size()] == '/'))
      return true;
  }
  return false;
}

void StatusNotifierItem::RegisterAgain(const char* why) {
  {
    std::lock_guard lock(mutex_);
    if (!icon_ || !name_owned_) return;
  }
  if (registrations_again_ == kMaxRegistrationsAgain) {
    LogW(kLogError, u"SHELL: %S; it was registered again %d times, not any more", why,
         kMaxRegistrationsAgain);
    ++registrations_again_;
    return;
  }
  if (registrations_again_ > kMaxRegistrationsAgain) return;
  ++registrations_again_;
  LogW(kLogNotable, u"SHELL: %S; registering it again (%d of %d)", why, registrations_again_,
       kMaxRegistrationsAgain);
  KillTimer(timers_.hwnd(), kListCheckTimer);
  SetTimer(timers_.hwnd(), kRegisterAgainTimer, kRegisterAgainMs);
}

void StatusNotifierItem::OnTimer(UINT_PTR timer) {
  if (!name_owned_ || watcher_owner_.empty()) return;
  if (timer == kRegisterAgainTimer) {
    registered_with_.clear();
    RegisterWithWatcher();
  } else if (timer == kListCheckTimer) {
    sd_bus_call_method_async(bus_.get(), nullptr, kWatcherName, kWatcherPath,
                             "org.freedesktop.DBus.Properties", "Get", OnRegisteredItems, this,
                             "ss", kWatcherName, "RegisteredStatusNotifierItems");
  }
  bus_.Rearm();
}

int StatusNotifierItem::OnItemUnregistered(sd_bus_message* m, void* userdata,
                                           sd_bus_error* /*error*/) {
  auto* self = static_cast<StatusNotifierItem*>(userdata);
  const char* sender = sd_bus_message_get_sender(m);
  const char* service = nullptr;
  if (sender == nullptr || self->watcher_owner_ != sender ||
      sd_bus_message_read(m, "s", &service) < 0 || !self->IsOurs(service))
    return 0;
  self->RegisterAgain("the status notifier watcher dropped the icon");
  return 0;
}

int StatusNotifierItem::OnRegisteredItems(sd_bus_message* m, void* userdata,
                                          sd_bus_error* /*error*/) {
  auto* self = static_cast<StatusNotifierItem*>(userdata);
  std::vector<std::string> items;
  if (sd_bus_message_get_error(m) != nullptr || sd_bus_message_enter_container(m, 'v', "as") < 0 ||
      ReadStrings(m, &items) < 0)
    return 0;  // a watcher that cannot say is taken at its word
  if (std::none_of(items.begin(), items.end(),
                   [self](const std::string& item) { return self->IsOurs(item); }))
    self->RegisterAgain("the status notifier watcher does not list the icon");
  return 0;
}

int StatusNotifierItem::OnWatcherOwnerChanged(sd_bus_message* m, void* userdata,
                                              sd_bus_error* /*error*/) {
  auto* self = static_cast<StatusNotifierItem*>(userdata);
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &old_owner, &new_owner) < 0) return 0;
  self->watcher_owner_ = new_owner;
  self->registered_with_.clear();
  // A new watcher (a restarted shell) gets its own tries.
  self->registrations_again_ = 0;
  KillTimer(self->timers_.hwnd(), kListCheckTimer);
  KillTimer(self->timers_.hwnd(), kRegisterAgainTimer);
  if (*new_owner != 0) {
    LogW(kLogInfo, u"SHELL: a status notifier watcher appeared, announcing TaskbarCreated");
    BroadcastMessage(RegisterWindowMessage(u"TaskbarCreated"), 0, 0);
  }
  return 0;
}

// --- The exported object ----------------------------------------------------

int StatusNotifierItem::OnMethod(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<StatusNotifierItem*>(userdata);
  const std::string member = sd_bus_message_get_member(m);
  // Every click opens the menu, as on the Windows taskbar; the host passes
  // screen coordinates that the handler does not need. Plasma and LXQt open
  // the menu on a left click only when Activate fails; its AboutToShow then
  // runs the refresh that WM_LBUTTONUP would.
  if (member == "Activate") {
    return sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "the menu opens on every click");
  }
  if (member == "SecondaryActivate") {
    self->DeliverEvent(WM_LBUTTONDBLCLK, false);
  } else if (member == "ContextMenu") {
    self->DeliverEvent(WM_RBUTTONUP, false);
  }
  return sd_bus_reply_method_return(m, "");
}

int StatusNotifierItem::OnProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                                   const char* property, sd_bus_message* reply, void* userdata,
                                   sd_bus_error* /*error*/) {
  auto* self = static_cast<StatusNotifierItem*>(userdata);
  const std::string name = property;
  std::lock_guard lock(self->mutex_);
  if (name == "Category") return sd_bus_message_append(reply, "s", "ApplicationStatus");
  if (name == "Id") return sd_bus_message_append(reply, "s", "wardex");
  if (name == "Title") return sd_bus_message_append(reply, "s", Utf8(kProductName).c_str());
  if (name == "Status") {
    return sd_bus_message_append(reply, "s", self->HiddenLocked() ? "Passive" : "Active");
  }
  if (name == "WindowId") return sd_bus_message_append(reply, "i", 0);
  if (name == "ItemIsMenu") return sd_bus_message_append(reply, "b", 1);
  if (name == "Menu") return sd_bus_message_append(reply, "o", kMenuPath);
  if (name == "IconPixmap") {
    int r = sd_bus_message_open_container(reply, 'a', "(iiay)");
    const HICON icon = self->icon_ ? self->icon_->data.hIcon : nullptr;
    if (icon != nullptr) {
      for (const IconPixmap& pixmap : IconPixmaps(icon->resource->id)) {
        if (r >= 0) r = sd_bus_message_open_container(reply, 'r', "iiay");
        if (r >= 0) r = sd_bus_message_append(reply, "ii", pixmap.width, pixmap.height);
        if (r >= 0) {
          r = sd_bus_message_append_array(reply, 'y', pixmap.argb.data(), pixmap.argb.size());
        }
        if (r >= 0) r = sd_bus_message_close_container(reply);
      }
    }
    return r >= 0 ? sd_bus_message_close_container(reply) : r;
  }
  if (name == "ToolTip") {
    const std::string tip = self->icon_ ? Utf8(self->icon_->data.szTip) : std::string();
    return sd_bus_message_append(reply, "(sa(iiay)ss)", "", 0, tip.c_str(), "");
  }
  if (name == "OverlayIconPixmap" || name == "AttentionIconPixmap") {
    return sd_bus_message_append(reply, "a(iiay)", 0);
  }
  // IconName, OverlayIconName, AttentionIconName, AttentionMovieName and
  // IconThemePath: the icon comes as pixels.
  return sd_bus_message_append(reply, "s", "");
}

const sd_bus_vtable StatusNotifierItem::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Id", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Title", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", OnProperty, 0, 0),
    SD_BUS_PROPERTY("WindowId", "i", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconName", "s", OnProperty, 0, 0),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", OnProperty, 0, 0),
    SD_BUS_PROPERTY("OverlayIconName", "s", OnProperty, 0, 0),
    SD_BUS_PROPERTY("OverlayIconPixmap", "a(iiay)", OnProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionIconName", "s", OnProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionIconPixmap", "a(iiay)", OnProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionMovieName", "s", OnProperty, 0, 0),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", OnProperty, 0, 0),
    SD_BUS_PROPERTY("ItemIsMenu", "b", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Menu", "o", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("ContextMenu", "ii", "", OnMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Activate", "ii", "", OnMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", OnMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Scroll", "is", "", OnMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("NewTitle", "", 0),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewAttentionIcon", "", 0),
    SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL("NewStatus", "s", 0),
    SD_BUS_VTABLE_END,
};

}  // namespace wardex::platform::desktop
