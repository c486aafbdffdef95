#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "osal/wide_format.h"
#include "platform/dbus_menu_layout.h"
#include "platform/desktop_shell.h"
#include "platform/headless_shell.h"
#include "platform/icon_pixmap.h"
#include "platform/product_version.h"
#include "platform/ui.h"
#include "wardex/crashlog.h"

namespace wardex::platform {

namespace {

constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr char kMenuPath[] = "/MenuBar";
constexpr char kMenuInterface[] = "com.canonical.dbusmenu";
constexpr char kNotificationsName[] = "org.freedesktop.Notifications";
constexpr char kNotificationsPath[] = "/org/freedesktop/Notifications";
constexpr char kUnknownIdError[] = "com.canonical.dbusmenu.Error.UnknownId";
constexpr char kLimitsError[] = "org.freedesktop.DBus.Error.LimitsExceeded";

// Every call to another peer gives up after this long.
constexpr uint64_t kCallTimeoutUs = 10'000'000;
// Clicks waiting for the frame; more are refused with a D-Bus error.
constexpr size_t kMaxQueuedCommands = 8;
// Our recent notification ids: a daemon may report an action for one that
// was already replaced or closed.
constexpr size_t kRememberedNotifications = 8;
// A daemon may close a notification before it reports its action.
constexpr uint64_t kActionAfterCloseUs = 3'000'000;

// The pump window's messages and timer.
constexpr UINT kFlushMessage = WM_USER + 1;
constexpr UINT kCommandsMessage = WM_USER + 2;
constexpr UINT_PTR kBusTimer = 1;

// Balloon icon flags to the standard icon names that notification servers know.
const char* BalloonIconName(uint32_t flags) {
  switch (flags & 0xF) {
    case NIIF_INFO:
      return "dialog-information";
    case NIIF_WARNING:
      return "dialog-warning";
    case NIIF_ERROR:
      return "dialog-error";
    default:
      return "";
  }
}

// |text| as body markup: the three characters the markup gives meaning.
std::string EscapeMarkup(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string Utf8(const char16_t* text) { return KaOSAL::ToUtf8(std::u16string(text)); }

uint64_t MonotonicMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

struct Balloon {
  std::string title;
  std::string text;
  uint32_t icon_flags = 0;
  int32_t timeout_ms = -1;
};

// The exported icon. At namespace scope so that it is complete before the
// shell's std::optional of it is declared (clang needs that for emplace()).
struct Icon {
  NOTIFYICONDATAW data{};
  bool register_wanted = false;
};

struct MessageBoxWait {
  uint32_t id = 0;
  int answer = 0;          // 0 while nobody answered
  uint64_t closed_at = 0;  // when the daemon closed it without an answer
};

class DesktopShell;

// Receives the posted work of other threads and the bus time-out.
class BusPump : public Window {
 public:
  explicit BusPump(DesktopShell* shell) : shell_(shell) {}
  ~BusPump() override { Destroy(); }
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  DesktopShell* shell_;
};

class DesktopShell : public ShellBackend {
 public:
  DesktopShell(MessageLoop& loop, sd_bus* bus);
  ~DesktopShell() override;
  DesktopShell(const DesktopShell&) = delete;
  DesktopShell& operator=(const DesktopShell&) = delete;

  // Exports the objects and subscribes to the signals; false on failure.
  bool Start();

  bool NotifyIcon(uint32_t message, const NOTIFYICONDATAW& data) override;
  uint32_t TrackPopupMenu(const Menu& popup, HWND owner) override;
  int MessageBox(HWND owner, const KaOSAL::KaString& text, const KaOSAL::KaString& caption,
                 uint32_t type) override;
  void SetIconMenu(UINT id, const Menu& popup, HWND target) override;
  bool HasTrayHost() const override { return !watcher_owner_.empty(); }

  // Loop thread: reads and dispatches what the bus has, then re-arms.
  void Process();
  void Flush();
  void RunQueuedCommands();

 private:
  [[nodiscard]] bool OnLoopThread() const { return std::this_thread::get_id() == loop_thread_; }
  [[nodiscard]] bool Hidden() const;
  // Runs Flush now on the loop thread, or has the loop run it.
  void ScheduleFlush();
  void Rearm();
  void OnDisconnected(int error);
  // Merges a menu copy into the published one; the lock is held.
  void PublishMenuLocked(const Menu& popup, HWND target);
  // Sends the icon's callback message |event| to its window; |wait| runs
  // the handler before returning (the loop thread only).
  void DeliverIconEvent(UINT event, bool wait);
  void RegisterWithWatcher();
  void SendBalloon();
  void RequestCapabilities();
  void EmitItemSignal(const char* member);
  // Reads an AboutToShow for |id|: -1 unknown id, 1 the menu changed, 0 not.
  int AboutToShow(int32_t id);
  // Handles one Event; false for an unknown id; |refused| for a full queue.
  bool Event(int32_t id, const std::string& event_id, bool* refused);
  [[nodiscard]] bool KnownItem(int32_t id) const;
  [[nodiscard]] bool OurNotification(uint32_t id) const;

  // sd-bus callbacks.
  static int OnItemMethod(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnItemProperty(sd_bus* bus, const char* path, const char* interface,
                            const char* property, sd_bus_message* reply, void* userdata,
                            sd_bus_error* error);
  static int OnGetLayout(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnGetGroupProperties(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnGetProperty(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnEvent(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnEventGroup(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnAboutToShow(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnAboutToShowGroup(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnMenuProperty(sd_bus* bus, const char* path, const char* interface,
                            const char* property, sd_bus_message* reply, void* userdata,
                            sd_bus_error* error);
  static int OnNameOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnNotificationSignal(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnNameRequested(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnRegistered(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnCapabilities(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnNotified(sd_bus_message* m, void* userdata, sd_bus_error* error);

  static const sd_bus_vtable kItemVtable[];
  static const sd_bus_vtable kMenuVtable[];

  MessageLoop& loop_;
  const std::thread::id loop_thread_;
  BusPump pump_;
  const std::string item_name_;

  // Loop thread only.
  sd_bus* bus_;
  int bus_fd_ = -1;
  short watched_events_ = 0;
  uint64_t armed_deadline_ = UINT64_MAX;
  bool processing_ = false;
  bool connected_ = true;
  bool name_owned_ = false;
  bool name_requested_ = false;
  std::string watcher_owner_;
  std::string registered_with_;
  bool no_watcher_logged_ = false;
  enum class Capabilities { kUnknown, kRequested, kKnown } capabilities_ = Capabilities::kUnknown;
  bool server_has_actions_ = false;
  bool server_has_markup_ = false;
  bool notify_in_flight_ = false;
  uint32_t balloon_id_ = 0;
  std::deque<uint32_t> recent_notifications_;
  bool in_about_to_show_ = false;
  std::optional<MessageBoxWait> message_box_;

  // Guarded by mutex_: what other threads change.
  mutable std::mutex mutex_;
  bool alive_ = true;  // false once the bus has gone
  std::optional<Icon> icon_;
  bool release_wanted_ = false;
  bool icon_changed_ = false;
  bool tip_changed_ = false;
  bool status_changed_ = false;
  std::optional<Balloon> balloon_;
  std::vector<DbusMenuItem> menu_items_;
  HWND menu_target_ = nullptr;
  uint32_t layout_revision_ = 1;
  uint64_t menu_serial_ = 0;
  bool layout_changed_ = false;
  std::set<int32_t> properties_changed_;
  std::deque<uint32_t> commands_;
  std::atomic<bool> flush_posted_{false};
};

LRESULT BusPump::WindowProc(UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  if (message == kFlushMessage) {
    shell_->Flush();
  } else if (message == kCommandsMessage) {
    shell_->RunQueuedCommands();
  } else if (message == WM_TIMER && wparam == kBusTimer) {
    shell_->Process();
  }
  return 0;
}

// --- Construction and the loop ---------------------------------------------

DesktopShell::DesktopShell(MessageLoop& loop, sd_bus* bus)
    : loop_(loop),
      loop_thread_(std::this_thread::get_id()),
      pump_(this),
      item_name_("org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1"),
      bus_(bus) {}

DesktopShell::~DesktopShell() {
  if (bus_fd_ >= 0 && connected_) loop_.UnwatchFd(bus_fd_);
  if (pump_.hwnd() != nullptr) KillTimer(pump_.hwnd(), kBusTimer);
  sd_bus_flush_close_unref(bus_);
}

bool DesktopShell::Start() {
  if (pump_.Register() == nullptr) return false;
  bus_fd_ = sd_bus_get_fd(bus_);
  int r = sd_bus_add_object_vtable(bus_, nullptr, kItemPath, kItemInterface, kItemVtable, this);
  if (r >= 0)
    r = sd_bus_add_object_vtable(bus_, nullptr, kMenuPath, kMenuInterface, kMenuVtable, this);
  const std::string owner_rule =
      "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
      "member='NameOwnerChanged',arg0='";
  if (r >= 0) {
    r = sd_bus_add_match(bus_, nullptr, (owner_rule + kWatcherName + "'").c_str(),
                         OnNameOwnerChanged, this);
  }
  if (r >= 0) {
    r = sd_bus_add_match(bus_, nullptr, (owner_rule + kNotificationsName + "'").c_str(),
                         OnNameOwnerChanged, this);
  }
  if (r >= 0) {
    r = sd_bus_add_match(bus_, nullptr,
                         (std::string("type='signal',interface='") + kNotificationsName +
                          "',path='" + kNotificationsPath + "'")
                             .c_str(),
                         OnNotificationSignal, this);
  }
  if (r < 0) {
    LogW(kLogSysFail, u"SHELL: cannot serve the tray on the session bus, error %d", -r);
    return false;
  }
  sd_bus_message* reply = nullptr;
  if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s",
                         kWatcherName) >= 0) {
    const char* owner = nullptr;
    if (sd_bus_message_read(reply, "s", &owner) >= 0) watcher_owner_ = owner;
  }
  sd_bus_message_unref(reply);
  loop_.WatchFd(bus_fd_, MessageLoop::kReadable, [this](int, short) { Process(); });
  watched_events_ = MessageLoop::kReadable;
  // The set-up calls may have read messages that poll() will not announce.
  Process();
  return true;
}

void DesktopShell::Process() {
  if (!connected_ || processing_) return;
  processing_ = true;
  int r;
  while ((r = sd_bus_process(bus_, nullptr)) > 0) {
  }
  processing_ = false;
  if (r < 0) {
    OnDisconnected(r);
    return;
  }
  Rearm();
}

void DesktopShell::Rearm() {
  if (!connected_) return;
  const int events = sd_bus_get_events(bus_);
  const short wanted = static_cast<short>(events > 0 ? events : MessageLoop::kReadable);
  if (wanted != watched_events_) {
    watched_events_ = wanted;
    loop_.WatchFd(bus_fd_, wanted, [this](int, short) { Process(); });
  }
  uint64_t deadline = UINT64_MAX;
  if (sd_bus_get_timeout(bus_, &deadline) < 0) deadline = UINT64_MAX;
  if (deadline == armed_deadline_) return;
  armed_deadline_ = deadline;
  if (deadline == UINT64_MAX) {
    KillTimer(pump_.hwnd(), kBusTimer);
    return;
  }
  const uint64_t now = MonotonicMicroseconds();
  const uint64_t wait_ms = deadline > now ? (deadline - now + 999) / 1000 : 0;
  SetTimer(pump_.hwnd(), kBusTimer, static_cast<uint32_t>(std::min<uint64_t>(wait_ms, 0x7FFFFFFF)));
}

void DesktopShell::OnDisconnected(int error) {
  connected_ = false;
  {
    std::lock_guard lock(mutex_);
    alive_ = false;
  }
  loop_.UnwatchFd(bus_fd_);
  KillTimer(pump_.hwnd(), kBusTimer);
  LogW(kLogNotable, u"SHELL: the session bus has gone (error %d), closing the agent", -error);
  if (HWND main_window = GetMainWindow()) PostMessage(main_window, WM_CLOSE, 0, 0);
}

void DesktopShell::ScheduleFlush() {
  if (OnLoopThread()) {
    Flush();
  } else if (!flush_posted_.exchange(true)) {
    PostMessage(pump_.hwnd(), kFlushMessage, 0, 0);
  }
}

// --- The shell calls --------------------------------------------------------

bool DesktopShell::Hidden() const { return icon_ && (icon_->data.dwState & NIS_HIDDEN) != 0; }

bool DesktopShell::NotifyIcon(uint32_t message, const NOTIFYICONDATAW& data) {
  {
    std::lock_guard lock(mutex_);
    // Without a bus there is nothing to remove; nothing can be shown either.
    if (!alive_) return message == NIM_DELETE;
    const bool ours = icon_ && icon_->data.uID == data.uID;
    switch (message) {
      case NIM_ADD: {
        // One item per connection: hosts find it at the fixed object path.
        if (icon_ && !ours) return false;
        // Adding again registers again, as for a new panel.
        const bool was_hidden = Hidden();
        icon_.emplace();
        MergeNotifyIconData(data, &icon_->data);
        icon_->register_wanted = true;
        icon_changed_ = tip_changed_ = true;
        status_changed_ = status_changed_ || was_hidden != Hidden();
        release_wanted_ = false;
        break;
      }
      case NIM_MODIFY: {
        if (!ours) return false;
        const bool was_hidden = Hidden();
        MergeNotifyIconData(data, &icon_->data);
        icon_changed_ = icon_changed_ || (data.uFlags & NIF_ICON) != 0;
        tip_changed_ = tip_changed_ || (data.uFlags & NIF_TIP) != 0;
        if (was_hidden != Hidden()) {
          status_changed_ = true;
          // An icon hidden through a panel restart meets the new panel now.
          if (!Hidden()) icon_->register_wanted = true;
        }
        break;
      }
      case NIM_DELETE:
        if (!ours) return false;
        icon_.reset();
        release_wanted_ = true;
        break;
      case NIM_SETFOCUS:
      case NIM_SETVERSION:
        return ours;
      default:
        return false;
    }
    if (icon_ && (data.uFlags & NIF_INFO) != 0 && data.szInfo[0] != 0) {
      // A newer balloon replaces one that is not out yet: no stacking.
      balloon_ = Balloon{Utf8(data.szInfoTitle), Utf8(data.szInfo), data.dwInfoFlags,
                         data.uTimeout == 0 ? -1 : static_cast<int32_t>(data.uTimeout)};
    }
  }
  ScheduleFlush();
  return true;
}

void DesktopShell::PublishMenuLocked(const Menu& popup, HWND target) {
  std::vector<DbusMenuItem> items = DbusMenuItems(popup);
  if (target != nullptr) menu_target_ = target;
  const DbusMenuChange change = CompareDbusMenus(menu_items_, items);
  if (!change.layout && change.properties.empty()) return;
  menu_items_ = std::move(items);
  ++menu_serial_;
  if (change.layout) {
    layout_changed_ = true;
    properties_changed_.clear();
  } else if (!layout_changed_) {
    properties_changed_.insert(change.properties.begin(), change.properties.end());
  }
}

void DesktopShell::SetIconMenu(UINT /*id*/, const Menu& popup, HWND target) {
  {
    std::lock_guard lock(mutex_);
    PublishMenuLocked(popup, target);
  }
  ScheduleFlush();
}

uint32_t DesktopShell::TrackPopupMenu(const Menu& popup, HWND owner) {
  bool ask_host = false;
  {
    std::lock_guard lock(mutex_);
    PublishMenuLocked(popup, owner);
    ask_host = alive_;
  }
  if (OnLoopThread()) {
    Flush();
    // The host opens the menu itself; for a click it did not see (a balloon
    // click), ask it to. The choice comes later as an Event.
    if (ask_host && !in_about_to_show_ && connected_) {
      sd_bus_emit_signal(bus_, kMenuPath, kMenuInterface, "ItemActivationRequested", "iu", 0,
                         static_cast<uint32_t>(MonotonicMicroseconds() / 1000));
      if (!processing_) Rearm();
    }
  } else {
    ScheduleFlush();
  }
  return 0;
}

void DesktopShell::Flush() {
  flush_posted_ = false;
  if (!connected_) return;
  bool release = false;
  bool register_wanted = false;
  bool icon_changed = false;
  bool tip_changed = false;
  bool status_changed = false;
  bool layout_changed = false;
  uint32_t revision = 0;
  std::vector<DbusMenuItem> changed_items;
  {
    std::lock_guard lock(mutex_);
    release = std::exchange(release_wanted_, false);
    if (icon_) register_wanted = std::exchange(icon_->register_wanted, false);
    icon_changed = std::exchange(icon_changed_, false);
    tip_changed = std::exchange(tip_changed_, false);
    status_changed = std::exchange(status_changed_, false);
    layout_changed = std::exchange(layout_changed_, false);
    if (layout_changed) revision = ++layout_revision_;
    for (int32_t id : properties_changed_) {
      for (const DbusMenuItem& item : menu_items_) {
        if (item.id == id) changed_items.push_back(item);
      }
    }
    properties_changed_.clear();
  }
  if (release && name_owned_) {
    // The watcher drops an item whose name goes.
    sd_bus_release_name_async(bus_, nullptr, item_name_.c_str(), nullptr, nullptr);
    name_owned_ = name_requested_ = false;
    registered_with_.clear();
  }
  if (register_wanted) {
    if (!name_owned_ && !name_requested_) {
      name_requested_ = true;
      sd_bus_request_name_async(bus_, nullptr, item_name_.c_str(), 0, OnNameRequested, this);
    } else if (name_owned_) {
      registered_with_.clear();
      RegisterWithWatcher();
    }
  }
  if (name_owned_) {
    if (icon_changed) EmitItemSignal("NewIcon");
    if (tip_changed) EmitItemSignal("NewToolTip");
    if (status_changed) {
      std::lock_guard lock(mutex_);
      sd_bus_emit_signal(bus_, kItemPath, kItemInterface, "NewStatus", "s",
                         Hidden() ? "Passive" : "Active");
    }
  }
  if (layout_changed) {
    sd_bus_emit_signal(bus_, kMenuPath, kMenuInterface, "LayoutUpdated", "ui", revision, 0);
  } else if (!changed_items.empty()) {
    sd_bus_message* m = nullptr;
    if (sd_bus_message_new_signal(bus_, &m, kMenuPath, kMenuInterface, "ItemsPropertiesUpdated") >=
        0) {
      sd_bus_message_open_container(m, 'a', "(ia{sv})");
      for (const DbusMenuItem& item : changed_items) {
        sd_bus_message_append(m, "(ia{sv})", item.id, 2, "label", "s", item.label.c_str(),
                              "enabled", "b", item.enabled);
      }
      sd_bus_message_close_container(m);
      sd_bus_message_append(m, "a(ias)", 0);
      sd_bus_send(bus_, m, nullptr);
      sd_bus_message_unref(m);
    }
  }
  SendBalloon();
  // Only writes happened: nothing was read that poll() would not announce,
  // and no bus call runs inside the caller's locks.
  if (!processing_) Rearm();
}

void DesktopShell::EmitItemSignal(const char* member) {
  sd_bus_emit_signal(bus_, kItemPath, kItemInterface, member, "");
}

// --- Registration with the watcher ------------------------------------------

int DesktopShell::OnNameRequested(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<DesktopShell*>(userdata);
  self->name_requested_ = false;
  const sd_bus_error* failure = sd_bus_message_get_error(m);
  if (failure != nullptr) {
    LogW(kLogSysFail, u"SHELL: cannot own the bus name %S: %S", self->item_name_.c_str(),
         failure->message != nullptr ? failure->message : failure->name);
    return 0;
  }
  bool icon_still_there;
  {
    std::lock_guard lock(self->mutex_);
    icon_still_there = self->icon_.has_value();
  }
  self->name_owned_ = true;
  if (!icon_still_there) {
    std::lock_guard lock(self->mutex_);
    self->release_wanted_ = true;
  }
  // The item's properties may have changed while the name was asked for.
  self->EmitItemSignal("NewIcon");
  self->EmitItemSignal("NewToolTip");
  self->RegisterWithWatcher();
  self->Flush();
  return 0;
}

void DesktopShell::RegisterWithWatcher() {
  if (watcher_owner_.empty()) {
    // Not a failure: the icon appears when a watcher comes.
    if (!no_watcher_logged_) LogW(kLogInfo, u"SHELL: no status notifier watcher yet");
    no_watcher_logged_ = true;
    return;
  }
  if (registered_with_ == watcher_owner_) return;
  registered_with_ = watcher_owner_;
  sd_bus_call_method_async(bus_, nullptr, kWatcherName, kWatcherPath, kWatcherName,
                           "RegisterStatusNotifierItem", OnRegistered, this, "s",
                           item_name_.c_str());
}

int DesktopShell::OnRegistered(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<DesktopShell*>(userdata);
  const sd_bus_error* failure = sd_bus_message_get_error(m);
  if (failure != nullptr) {
    self->registered_with_.clear();
    LogW(kLogError, u"SHELL: the status notifier watcher refused the icon: %S",
         failure->message != nullptr ? failure->message : failure->name);
    return 0;
  }
  self->no_watcher_logged_ = false;
  LogW(kLogInfo, u"SHELL: icon registered with the status notifier watcher");
  return 0;
}

int DesktopShell::OnNameOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<DesktopShell*>(userdata);
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &old_owner, &new_owner) < 0) return 0;
  if (std::string(name) == kNotificationsName) {
    // Another daemon may offer other capabilities and numbers its own ids.
    self->capabilities_ = Capabilities::kUnknown;
    self->notify_in_flight_ = false;
    self->balloon_id_ = 0;
    self->recent_notifications_.clear();
    return 0;
  }
  if (std::string(name) != kWatcherName) return 0;
  self->watcher_owner_ = new_owner;
  self->registered_with_.clear();
  if (*new_owner != 0) {
    LogW(kLogInfo, u"SHELL: a status notifier watcher appeared, announcing TaskbarCreated");
    BroadcastMessage(RegisterWindowMessage(u"TaskbarCreated"), 0, 0);
  }
  return 0;
}

// --- The item ---------------------------------------------------------------

void DesktopShell::DeliverIconEvent(UINT event, bool wait) {
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

int DesktopShell::OnItemMethod(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<DesktopShell*>(userdata);
  const std::string member = sd_bus_message_get_member(m);
  // Every click opens the menu, as on the Windows taskbar; the host passes
  // screen coordinates that the handler does not need.
  if (member == "Activate") {
    self->DeliverIconEvent(WM_LBUTTONUP, false);
  } else if (member == "SecondaryActivate") {
    self->DeliverIconEvent(WM_LBUTTONDBLCLK, false);
  } else if (member == "ContextMenu") {
    self->DeliverIconEvent(WM_RBUTTONUP, false);
  }
  return sd_bus_reply_method_return(m, "");
}

int DesktopShell::OnItemProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                                 const char* property, sd_bus_message* reply, void* userdata,
                                 sd_bus_error* /*error*/) {
  auto* self = static_cast<DesktopShell*>(userdata);
  const std::string name = property;
  std::lock_guard lock(self->mutex_);
  if (name == "Category") return sd_bus_message_append(reply, "s", "ApplicationStatus");
  if (name == "Id") return sd_bus_message_append(reply, "s", "wardex");
  if (name == "Title") return sd_bus_message_append(reply, "s", Utf8(kProductName).c_str());
  if (name == "Status") {
    return sd_bus_message_append(reply, "s", self->Hidden() ? "Passive" : "Active");
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

// --- The menu ---------------------------------------------------------------

namespace {

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

// Reads an "as" argument.
int ReadNames(sd_bus_message* m, std::vector<std::string>* names) {
  char** list = nullptr;
  const int r = sd_bus_message_read_strv(m, &list);
  if (r < 0) return r;
  for (char** p = list; p != nullptr && *p != nullptr; ++p) {
    names->push_back(*p);
    free(*p);
  }
  free(list);
  return r;
}

}  // namespace

bool DesktopShell::KnownItem(int32_t id) const {
  std::lock_guard lock(mutex_);
  return id == 0 || std::any_of(menu_items_.begin(), menu_items_.end(),
                                [id](const DbusMenuItem& item) { return item.id == id; });
}

int DesktopShell::OnGetLayout(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DesktopShell*>(userdata);
  int32_t parent = 0;
  int32_t depth = 0;
  std::vector<std::string> names;
  int r = sd_bus_message_read(m, "ii", &parent, &depth);
  if (r >= 0) r = ReadNames(m, &names);
  if (r < 0) return r;
  std::vector<DbusMenuItem> items;
  uint32_t revision;
  {
    std::lock_guard lock(self->mutex_);
    items = self->menu_items_;
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

int DesktopShell::OnGetGroupProperties(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<DesktopShell*>(userdata);
  const int32_t* ids = nullptr;
  size_t size = 0;
  std::vector<std::string> names;
  int r = sd_bus_message_read_array(m, 'i', reinterpret_cast<const void**>(&ids), &size);
  if (r >= 0) r = ReadNames(m, &names);
  if (r < 0) return r;
  const size_t count = size / sizeof(int32_t);
  std::vector<DbusMenuItem> items;
  {
    std::lock_guard lock(self->mutex_);
    items = self->menu_items_;
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

int DesktopShell::OnGetProperty(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DesktopShell*>(userdata);
  int32_t id = 0;
  const char* name = nullptr;
  int r = sd_bus_message_read(m, "is", &id, &name);
  if (r < 0) return r;
  std::optional<DbusMenuItem> item;
  if (id != 0) {
    std::lock_guard lock(self->mutex_);
    for (const DbusMenuItem& candidate : self->menu_items_) {
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

bool DesktopShell::Event(int32_t id, const std::string& event_id, bool* refused) {
  *refused = false;
  std::lock_guard lock(mutex_);
  auto found = std::find_if(menu_items_.begin(), menu_items_.end(),
                            [id](const DbusMenuItem& item) { return item.id == id; });
  if (id != 0 && found == menu_items_.end()) return false;
  // Hovering, opening and closing change nothing; a grey item is not chosen.
  if (event_id != "clicked" || id == 0 || found->separator || !found->enabled) return true;
  if (commands_.size() >= kMaxQueuedCommands) {
    *refused = true;
    return true;
  }
  commands_.push_back(found->command);
  // One message carries every queued command, so the loop's queue stays short.
  if (commands_.size() == 1) PostMessage(pump_.hwnd(), kCommandsMessage, 0, 0);
  return true;
}

void DesktopShell::RunQueuedCommands() {
  for (;;) {
    uint32_t command;
    HWND target;
    {
      std::lock_guard lock(mutex_);
      if (commands_.empty()) return;
      command = commands_.front();
      commands_.pop_front();
      target = menu_target_ != nullptr ? menu_target_ : GetMainWindow();
    }
    if (target != nullptr) SendMessage(target, WM_COMMAND, command, 0);
  }
}

int DesktopShell::OnEvent(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DesktopShell*>(userdata);
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

int DesktopShell::OnEventGroup(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DesktopShell*>(userdata);
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

int DesktopShell::AboutToShow(int32_t id) {
  if (!KnownItem(id)) return -1;
  if (id != 0) return 0;
  uint64_t serial_before;
  {
    std::lock_guard lock(mutex_);
    serial_before = menu_serial_;
  }
  // The host's "menu about to open" is the click of the Windows taskbar:
  // the icon's handler refreshes the menu before it is drawn.
  in_about_to_show_ = true;
  DeliverIconEvent(WM_RBUTTONUP, true);
  in_about_to_show_ = false;
  std::lock_guard lock(mutex_);
  return menu_serial_ != serial_before ? 1 : 0;
}

int DesktopShell::OnAboutToShow(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DesktopShell*>(userdata);
  int32_t id = 0;
  const int r = sd_bus_message_read(m, "i", &id);
  if (r < 0) return r;
  const int changed = self->AboutToShow(id);
  if (changed < 0) return sd_bus_error_setf(error, kUnknownIdError, "no item %d", id);
  return sd_bus_reply_method_return(m, "b", changed);
}

int DesktopShell::OnAboutToShowGroup(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<DesktopShell*>(userdata);
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

int DesktopShell::OnMenuProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                                 const char* property, sd_bus_message* reply, void* /*userdata*/,
                                 sd_bus_error* /*error*/) {
  const std::string name = property;
  if (name == "Version") return sd_bus_message_append(reply, "u", 3u);
  if (name == "TextDirection") return sd_bus_message_append(reply, "s", "ltr");
  if (name == "Status") return sd_bus_message_append(reply, "s", "normal");
  return sd_bus_message_append(reply, "as", 0);  // IconThemePath
}

// --- Balloons ---------------------------------------------------------------

void DesktopShell::RequestCapabilities() {
  capabilities_ = Capabilities::kRequested;
  const int r =
      sd_bus_call_method_async(bus_, nullptr, kNotificationsName, kNotificationsPath,
                               kNotificationsName, "GetCapabilities", OnCapabilities, this, "");
  if (r < 0) capabilities_ = Capabilities::kUnknown;
}

int DesktopShell::OnCapabilities(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<DesktopShell*>(userdata);
  self->capabilities_ = Capabilities::kKnown;
  self->server_has_actions_ = self->server_has_markup_ = false;
  std::vector<std::string> capabilities;
  if (sd_bus_message_get_error(m) == nullptr && ReadNames(m, &capabilities) >= 0) {
    for (const std::string& capability : capabilities) {
      if (capability == "actions") self->server_has_actions_ = true;
      if (capability == "body-markup") self->server_has_markup_ = true;
    }
  } else {
    LogW(kLogNotable, u"SHELL: no notification server answers; balloons are not shown");
  }
  self->SendBalloon();
  return 0;
}

void DesktopShell::SendBalloon() {
  if (notify_in_flight_ || capabilities_ == Capabilities::kRequested) return;
  std::optional<Balloon> balloon;
  {
    std::lock_guard lock(mutex_);
    if (!balloon_) return;
    if (capabilities_ == Capabilities::kKnown) balloon = std::exchange(balloon_, std::nullopt);
  }
  if (capabilities_ == Capabilities::kUnknown) {
    RequestCapabilities();
    return;
  }
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &m, kNotificationsName, kNotificationsPath,
                                         kNotificationsName, "Notify");
  const std::string body = server_has_markup_ ? EscapeMarkup(balloon->text) : balloon->text;
  const std::string app_name = Utf8(kProductName);
  if (r >= 0) {
    r = sd_bus_message_append(m, "susss", app_name.c_str(), balloon_id_,
                              BalloonIconName(balloon->icon_flags), balloon->title.c_str(),
                              body.c_str());
  }
  // The body's click is the "default" action on most daemons.
  if (r >= 0 && server_has_actions_) {
    r = sd_bus_message_append(m, "as", 2, "default", app_name.c_str());
  } else if (r >= 0) {
    r = sd_bus_message_append(m, "as", 0);
  }
  if (r >= 0) r = sd_bus_message_append(m, "a{sv}i", 0, balloon->timeout_ms);
  if (r >= 0) r = sd_bus_call_async(bus_, nullptr, m, OnNotified, this, kCallTimeoutUs);
  sd_bus_message_unref(m);
  if (r < 0) {
    LogW(kLogSysFail, u"SHELL: cannot send the balloon, error %d", -r);
    return;
  }
  notify_in_flight_ = true;
}

int DesktopShell::OnNotified(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<DesktopShell*>(userdata);
  self->notify_in_flight_ = false;
  const sd_bus_error* failure = sd_bus_message_get_error(m);
  uint32_t id = 0;
  if (failure != nullptr || sd_bus_message_read(m, "u", &id) < 0) {
    LogW(kLogError, u"SHELL: the notification server refused the balloon: %S",
         failure != nullptr && failure->message != nullptr ? failure->message : "bad reply");
  } else {
    self->balloon_id_ = id;
    self->recent_notifications_.push_back(id);
    if (self->recent_notifications_.size() > kRememberedNotifications) {
      self->recent_notifications_.pop_front();
    }
  }
  // A balloon that came meanwhile replaces this one now that its id is known.
  self->SendBalloon();
  return 0;
}

bool DesktopShell::OurNotification(uint32_t id) const {
  return id != 0 && std::find(recent_notifications_.begin(), recent_notifications_.end(), id) !=
                        recent_notifications_.end();
}

int DesktopShell::OnNotificationSignal(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<DesktopShell*>(userdata);
  const std::string member = sd_bus_message_get_member(m);
  uint32_t id = 0;
  if (member == "ActionInvoked") {
    const char* action = nullptr;
    if (sd_bus_message_read(m, "us", &id, &action) < 0) return 0;
    if (self->message_box_ && self->message_box_->id == id) {
      self->message_box_->answer = std::atoi(action);
    } else if (self->OurNotification(id)) {
      self->DeliverIconEvent(NIN_BALLOONUSERCLICK, false);
    }
  } else if (member == "NotificationClosed") {
    uint32_t reason = 0;
    if (sd_bus_message_read(m, "uu", &id, &reason) < 0) return 0;
    if (self->message_box_ && self->message_box_->id == id) {
      self->message_box_->closed_at = MonotonicMicroseconds();
    } else if (self->OurNotification(id)) {
      // 3: taken away by a CloseNotification call; else expired or dismissed.
      self->DeliverIconEvent(reason == 3 ? NIN_BALLOONHIDE : NIN_BALLOONTIMEOUT, false);
    }
  }
  return 0;
}

// --- The message box --------------------------------------------------------

int DesktopShell::MessageBox(HWND /*owner*/, const KaOSAL::KaString& text,
                             const KaOSAL::KaString& caption, uint32_t type) {
  // The box waits on the bus; from inside a bus call or another thread it
  // cannot, and nobody answers for the user.
  if (!OnLoopThread() || processing_ || !connected_ || message_box_) {
    LogW(kLogNotable, u"SHELL: message box \"%s\" cannot be shown now, answered Cancel",
         caption.c_str());
    return IDCANCEL;
  }
  sd_bus_message* reply = nullptr;
  bool has_actions = false;
  if (sd_bus_call_method(bus_, kNotificationsName, kNotificationsPath, kNotificationsName,
                         "GetCapabilities", nullptr, &reply, "") >= 0) {
    std::vector<std::string> capabilities;
    if (ReadNames(reply, &capabilities) >= 0) {
      has_actions =
          std::find(capabilities.begin(), capabilities.end(), "actions") != capabilities.end();
    }
  }
  sd_bus_message_unref(reply);
  reply = nullptr;
  if (!has_actions) {
    LogW(kLogNotable,
         u"SHELL: no notification server with buttons for message box \"%s\", "
         u"answered Cancel",
         caption.c_str());
    Process();
    return IDCANCEL;
  }
  const bool ok_cancel = (type & 0xF) == MB_OKCANCEL;
  const std::string title = Utf8(caption.c_str());
  const std::string body = Utf8(text.c_str());
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &m, kNotificationsName, kNotificationsPath,
                                         kNotificationsName, "Notify");
  if (r >= 0) {
    r = sd_bus_message_append(m, "susss", Utf8(kProductName).c_str(), 0u,
                              (type & MB_ICONQUESTION) != 0 ? "dialog-question" : "", title.c_str(),
                              body.c_str());
  }
  if (r >= 0 && ok_cancel) {
    r = sd_bus_message_append(m, "as", 4, "1", "OK", "2", "Cancel");
  } else if (r >= 0) {
    r = sd_bus_message_append(m, "as", 2, "1", "OK");
  }
  // Stays until the user answers; critical urgency keeps it on screen.
  if (r >= 0) r = sd_bus_message_append(m, "a{sv}i", 2, "urgency", "y", 2, "resident", "b", 1, 0);
  if (r >= 0) r = sd_bus_call(bus_, m, kCallTimeoutUs, nullptr, &reply);
  sd_bus_message_unref(m);
  uint32_t id = 0;
  if (r < 0 || sd_bus_message_read(reply, "u", &id) < 0) {
    sd_bus_message_unref(reply);
    LogW(kLogError, u"SHELL: message box \"%s\" could not be shown, answered Cancel",
         caption.c_str());
    Process();
    return IDCANCEL;
  }
  sd_bus_message_unref(reply);
  LogW(kLogInfo, u"SHELL: message box \"%s\" shown as notification %u", caption.c_str(), id);
  message_box_ = MessageBoxWait{id};
  // A modal wait on the bus alone: the host may still open the menu and
  // click, and its clicks queue for after the answer.
  processing_ = true;
  int answer = 0;
  for (;;) {
    r = sd_bus_process(bus_, nullptr);
    if (r < 0) break;
    if (message_box_->answer != 0) {
      answer = message_box_->answer == IDOK ? IDOK : IDCANCEL;
      break;
    }
    const uint64_t closed_at = message_box_->closed_at;
    if (closed_at != 0 && MonotonicMicroseconds() - closed_at >= kActionAfterCloseUs) {
      answer = IDCANCEL;  // dismissed without a button
      break;
    }
    if (r > 0) continue;
    r = sd_bus_wait(bus_, closed_at != 0 ? kActionAfterCloseUs : UINT64_MAX);
    if (r < 0) break;
  }
  processing_ = false;
  message_box_.reset();
  if (r < 0) {
    OnDisconnected(r);
    return IDCANCEL;
  }
  LogW(kLogInfo, u"SHELL: message box \"%s\" answered %d", caption.c_str(), answer);
  Rearm();
  return answer;
}

// --- Tables -----------------------------------------------------------------

const sd_bus_vtable DesktopShell::kItemVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", OnItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Id", "s", OnItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Title", "s", OnItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", OnItemProperty, 0, 0),
    SD_BUS_PROPERTY("WindowId", "i", OnItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconName", "s", OnItemProperty, 0, 0),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", OnItemProperty, 0, 0),
    SD_BUS_PROPERTY("OverlayIconName", "s", OnItemProperty, 0, 0),
    SD_BUS_PROPERTY("OverlayIconPixmap", "a(iiay)", OnItemProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionIconName", "s", OnItemProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionIconPixmap", "a(iiay)", OnItemProperty, 0, 0),
    SD_BUS_PROPERTY("AttentionMovieName", "s", OnItemProperty, 0, 0),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", OnItemProperty, 0, 0),
    SD_BUS_PROPERTY("ItemIsMenu", "b", OnItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Menu", "o", OnItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "s", OnItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("ContextMenu", "ii", "", OnItemMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Activate", "ii", "", OnItemMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", OnItemMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Scroll", "is", "", OnItemMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("NewTitle", "", 0),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewAttentionIcon", "", 0),
    SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL("NewStatus", "s", 0),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable DesktopShell::kMenuVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Version", "u", OnMenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("TextDirection", "s", OnMenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", OnMenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "as", OnMenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
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

}  // namespace

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
