#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/desktop_notifications_internal.h"
#include "platform/product_version.h"
#include "platform/shell.h"
#include "wardex/crashlog.h"

namespace wardex::platform::desktop {

namespace {

constexpr char kServerName[] = "org.freedesktop.Notifications";
constexpr char kServerPath[] = "/org/freedesktop/Notifications";

// Our recent notification ids: a daemon may report an action for one that
// was already replaced or closed.
constexpr size_t kRememberedNotifications = 8;
// A daemon may close a notification before it reports its action.
constexpr uint64_t kActionAfterCloseUs = 3'000'000;

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

}  // namespace

NotificationsClient::NotificationsClient(BusConnection& bus,
                                         std::function<void(UINT)> balloon_event)
    : bus_(bus), balloon_event_(std::move(balloon_event)) {}

int NotificationsClient::Subscribe() {
  int r = sd_bus_add_match(bus_.get(), nullptr,
                           (std::string("type='signal',sender='org.freedesktop.DBus',"
                                        "interface='org.freedesktop.DBus',"
                                        "member='NameOwnerChanged',arg0='") +
                            kServerName + "'")
                               .c_str(),
                           OnServerOwnerChanged, this);
  if (r >= 0) {
    r = sd_bus_add_match(
        bus_.get(), nullptr,
        (std::string("type='signal',interface='") + kServerName + "',path='" + kServerPath + "'")
            .c_str(),
        OnSignal, this);
  }
  return r;
}

int NotificationsClient::OnServerOwnerChanged(sd_bus_message* /*m*/, void* userdata,
                                              sd_bus_error* /*error*/) {
  auto* self = static_cast<NotificationsClient*>(userdata);
  // Another daemon may offer other capabilities and numbers its own ids.
  self->capabilities_ = Capabilities::kUnknown;
  self->notify_in_flight_ = false;
  self->balloon_id_ = 0;
  self->recent_.clear();
  return 0;
}

// --- Balloons ---------------------------------------------------------------

void NotificationsClient::Queue(Balloon balloon) {
  std::lock_guard lock(mutex_);
  balloon_ = std::move(balloon);
}

void NotificationsClient::RequestCapabilities() {
  capabilities_ = Capabilities::kRequested;
  const int r = sd_bus_call_method_async(bus_.get(), nullptr, kServerName, kServerPath, kServerName,
                                         "GetCapabilities", OnCapabilities, this, "");
  if (r < 0) capabilities_ = Capabilities::kUnknown;
}

int NotificationsClient::OnCapabilities(sd_bus_message* m, void* userdata,
                                        sd_bus_error* /*error*/) {
  auto* self = static_cast<NotificationsClient*>(userdata);
  self->capabilities_ = Capabilities::kKnown;
  self->server_has_actions_ = self->server_has_markup_ = false;
  std::vector<std::string> capabilities;
  if (sd_bus_message_get_error(m) == nullptr && ReadStrings(m, &capabilities) >= 0) {
    for (const std::string& capability : capabilities) {
      if (capability == "actions") self->server_has_actions_ = true;
      if (capability == "body-markup") self->server_has_markup_ = true;
    }
  } else {
    LogW(kLogNotable, u"SHELL: no notification server answers; balloons are not shown");
  }
  self->Flush();
  return 0;
}

void NotificationsClient::Flush() {
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
  int r = sd_bus_message_new_method_call(bus_.get(), &m, kServerName, kServerPath, kServerName,
                                         "Notify");
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
  if (r >= 0) r = sd_bus_call_async(bus_.get(), nullptr, m, OnNotified, this, kCallTimeoutUs);
  sd_bus_message_unref(m);
  if (r < 0) {
    LogW(kLogSysFail, u"SHELL: cannot send the balloon, error %d", -r);
    return;
  }
  notify_in_flight_ = true;
}

int NotificationsClient::OnNotified(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<NotificationsClient*>(userdata);
  self->notify_in_flight_ = false;
  const sd_bus_error* failure = sd_bus_message_get_error(m);
  uint32_t id = 0;
  if (failure != nullptr || sd_bus_message_read(m, "u", &id) < 0) {
    LogW(kLogError, u"SHELL: the notification server refused the balloon: %S",
         failure != nullptr && failure->message != nullptr ? failure->message : "bad reply");
  } else {
    self->balloon_id_ = id;
    self->recent_.push_back(id);
    if (self->recent_.size() > kRememberedNotifications) self->recent_.pop_front();
  }
  // A balloon that came meanwhile replaces this one now that its id is known.
  self->Flush();
  return 0;
}

bool NotificationsClient::OurNotification(uint32_t id) const {
  return id != 0 && std::find(recent_.begin(), recent_.end(), id) != recent_.end();
}

int NotificationsClient::OnSignal(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<NotificationsClient*>(userdata);
  const std::string member = sd_bus_message_get_member(m);
  uint32_t id = 0;
  if (member == "ActionInvoked") {
    const char* action = nullptr;
    if (sd_bus_message_read(m, "us", &id, &action) < 0) return 0;
    if (self->message_box_ && self->message_box_->id == id) {
      self->message_box_->answer = std::atoi(action);
    } else if (self->OurNotification(id)) {
      self->balloon_event_(NIN_BALLOONUSERCLICK);
    }
  } else if (member == "NotificationClosed") {
    uint32_t reason = 0;
    if (sd_bus_message_read(m, "uu", &id, &reason) < 0) return 0;
    if (self->message_box_ && self->message_box_->id == id) {
      self->message_box_->closed_at = MonotonicMicroseconds();
    } else if (self->OurNotification(id)) {
      // 3: taken away by a CloseNotification call; else expired or dismissed.
      self->balloon_event_(reason == 3 ? NIN_BALLOONHIDE : NIN_BALLOONTIMEOUT);
    }
  }
  return 0;
}

// --- The message box --------------------------------------------------------

int NotificationsClient::MessageBox(const KaOSAL::KaString& text, const KaOSAL::KaString& caption,
                                    uint32_t type) {
  // The box waits on the bus; from inside a bus call or another thread it
  // cannot, and nobody answers for the user.
  if (!bus_.OnLoopThread() || bus_.processing() || !bus_.connected() || message_box_) {
    LogW(kLogNotable, u"SHELL: message box \"%s\" cannot be shown now, answered Cancel",
         caption.c_str());
    return IDCANCEL;
  }
  sd_bus* bus = bus_.get();
  sd_bus_message* reply = nullptr;
  bool has_actions = false;
  if (sd_bus_call_method(bus, kServerName, kServerPath, kServerName, "GetCapabilities", nullptr,
                         &reply, "") >= 0) {
    std::vector<std::string> capabilities;
    if (ReadStrings(reply, &capabilities) >= 0) {
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
    bus_.Process();
    return IDCANCEL;
  }
  const bool ok_cancel = (type & 0xF) == MB_OKCANCEL;
  const std::string title = Utf8(caption.c_str());
  const std::string body = Utf8(text.c_str());
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_method_call(bus, &m, kServerName, kServerPath, kServerName, "Notify");
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
  if (r >= 0) r = sd_bus_call(bus, m, kCallTimeoutUs, nullptr, &reply);
  sd_bus_message_unref(m);
  uint32_t id = 0;
  if (r < 0 || sd_bus_message_read(reply, "u", &id) < 0) {
    sd_bus_message_unref(reply);
    LogW(kLogError, u"SHELL: message box \"%s\" could not be shown, answered Cancel",
         caption.c_str());
    bus_.Process();
    return IDCANCEL;
  }
  sd_bus_message_unref(reply);
  LogW(kLogInfo, u"SHELL: message box \"%s\" shown as notification %u", caption.c_str(), id);
  message_box_ = MessageBoxWait{id};
  // A modal wait on the bus alone: the host may still open the menu and
  // click, and its clicks queue for after the answer.
  int answer = 0;
  const bool connected = bus_.ProcessUntil([this, &answer](uint64_t* wait_us) {
    if (message_box_->answer != 0) {
      answer = message_box_->answer == IDOK ? IDOK : IDCANCEL;
      return true;
    }
    const uint64_t closed_at = message_box_->closed_at;
    if (closed_at != 0 && MonotonicMicroseconds() - closed_at >= kActionAfterCloseUs) {
      answer = IDCANCEL;  // dismissed without a button
      return true;
    }
    *wait_us = closed_at != 0 ? kActionAfterCloseUs : UINT64_MAX;
    return false;
  });
  message_box_.reset();
  if (!connected) return IDCANCEL;
  LogW(kLogInfo, u"SHELL: message box \"%s\" answered %d", caption.c_str(), answer);
  return answer;
}

}  // namespace wardex::platform::desktop
