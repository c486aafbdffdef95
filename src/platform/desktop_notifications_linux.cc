#include <algorithm>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "osal/last_error.h"
#include "platform/desktop_notifications_internal.h"
#include "platform/process.h"
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
// A notification the server has not taken in this time counts as not shown
// (the news feed waits longer than this for its answer).
constexpr uint64_t kNotifyTimeoutUs = 5'000'000;
// Notifications queued or sent but not answered; more are refused.
constexpr size_t kMaxWaiting = 16;
// Notifications whose button the server may still report: GNOME keeps them
// in its list, without a close signal, until the user clears it.
constexpr size_t kRememberedButtons = 32;
// The desktop file and icon that name the application on the desktop.
constexpr char kDesktopEntry[] = "org.wardex.Console";
constexpr char kAppIcon[] = "wardex";
// The server that draws the "default" action as a button of its own.
constexpr char kDrawsDefaultServer[] = "lxqt-notificationd";

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

// Appends the hints a{sv}: the desktop file, and the picture when there is one.
int AppendHints(sd_bus_message* m, const std::string& picture) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  if (r >= 0) r = sd_bus_message_append(m, "{sv}", "desktop-entry", "s", kDesktopEntry);
  if (r >= 0 && !picture.empty())
    r = sd_bus_message_append(m, "{sv}", "image-path", "s", picture.c_str());
  return r >= 0 ? sd_bus_message_close_container(m) : r;
}

// Runs what a notification's button stands for, on a thread of its own: the
// desktop's opener may take seconds to say whether it took a link.
void RunButton(const DesktopNotification& notification) {
  LogW(kLogInfo, u"SHELL: the button \"%s\" of notification \"%s\" was clicked",
       notification.button_title.c_str(), notification.title.c_str());
  std::thread([notification] {
    const bool started =
        notification.link.IsEmpty()
            ? ChildProcess::Start({notification.command_line, u"", false}) != nullptr
            : ShellOpen(notification.link, u"");
    if (!started) {
      LogW(kLogError, u"SHELL: cannot run \"%s%s\", error %u", notification.command_line.c_str(),
           notification.link.c_str(), KaOSAL::GetLastError());
    }
  }).detach();
}

}  // namespace

NotificationsClient::NotificationsClient(BusConnection& bus,
                                         std::function<void(UINT)> balloon_event)
    : bus_(bus), balloon_event_(std::move(balloon_event)) {}

NotificationsClient::~NotificationsClient() {
  for (auto& [cookie, sent] : sent_) sent.shown(false);
  for (Outgoing& outgoing : outgoing_) outgoing.shown(false);
}

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

int NotificationsClient::OnServerOwnerChanged(sd_bus_message* m, void* userdata,
                                              sd_bus_error* /*error*/) {
  auto* self = static_cast<NotificationsClient*>(userdata);
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &old_owner, &new_owner) < 0) return 0;
  // Another daemon may offer other capabilities and numbers its own ids.
  self->capabilities_ = Capabilities::kUnknown;
  self->server_ = new_owner;
  self->notify_in_flight_ = false;
  self->balloon_id_ = 0;
  self->recent_.clear();
  self->buttons_.clear();
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
  self->server_has_actions_ = self->server_has_markup_ = self->server_draws_default_ = false;
  std::vector<std::string> capabilities;
  if (sd_bus_message_get_error(m) != nullptr || ReadStrings(m, &capabilities) < 0) {
    LogW(kLogNotable, u"SHELL: no notification server answers; balloons are not shown");
    self->capabilities_ = Capabilities::kKnown;
    self->Flush();
    return 0;
  }
  self->server_ = sd_bus_message_get_sender(m);
  for (const std::string& capability : capabilities) {
    if (capability == "actions") self->server_has_actions_ = true;
    if (capability == "body-markup") self->server_has_markup_ = true;
  }
  // Which server it is decides how a button is offered.
  if (sd_bus_call_method_async(self->bus_.get(), nullptr, kServerName, kServerPath, kServerName,
                               "GetServerInformation", OnServerInformation, self, "") < 0) {
    self->capabilities_ = Capabilities::kKnown;
    self->Flush();
  }
  return 0;
}

int NotificationsClient::OnServerInformation(sd_bus_message* m, void* userdata,
                                             sd_bus_error* /*error*/) {
  auto* self = static_cast<NotificationsClient*>(userdata);
  const char* name = nullptr;
  if (sd_bus_message_get_error(m) == nullptr && sd_bus_message_read(m, "s", &name) >= 0)
    self->server_draws_default_ = std::string(name) == kDrawsDefaultServer;
  self->capabilities_ = Capabilities::kKnown;
  self->Flush();
  return 0;
}

void NotificationsClient::Flush() {
  if (capabilities_ == Capabilities::kRequested) return;
  std::deque<Outgoing> outgoing;
  {
    std::lock_guard lock(mutex_);
    if (!balloon_ && outgoing_.empty()) return;
    if (capabilities_ == Capabilities::kKnown) outgoing.swap(outgoing_);
  }
  if (capabilities_ == Capabilities::kUnknown) {
    RequestCapabilities();
    return;
  }
  for (Outgoing& each : outgoing) Send(std::move(each));
  SendBalloon();
}

void NotificationsClient::SendBalloon() {
  if (notify_in_flight_) return;
  std::optional<Balloon> balloon;
  {
    std::lock_guard lock(mutex_);
    if (!balloon_) return;
    balloon = std::exchange(balloon_, std::nullopt);
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
  if (r >= 0) r = AppendHints(m, std::string());
  if (r >= 0) r = sd_bus_message_append(m, "i", balloon->timeout_ms);
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
  self->SendBalloon();
  return 0;
}

// --- The Console's notifications --------------------------------------------

void NotificationsClient::Queue(DesktopNotification notification, NotificationShown shown) {
  {
    std::lock_guard lock(mutex_);
    if (waiting_ < kMaxWaiting) {
      ++waiting_;
      outgoing_.push_back({std::move(notification), std::move(shown), {}});
      return;
    }
  }
  LogW(kLogError, u"SHELL: notification \"%s\" not shown: %u others wait for the server",
       notification.title.c_str(), static_cast<unsigned>(kMaxWaiting));
  shown(false);
}

std::vector<std::string> NotificationsClient::ButtonActions() const {
  if (!server_has_actions_) return {};
  // A click on the body is "default"; GNOME, Plasma and most servers show
  // only the named action as a button, LXQt shows "default" as one too.
  if (server_draws_default_) return {"default"};
  return {"default", "run"};
}

void NotificationsClient::Send(Outgoing outgoing) {
  const DesktopNotification& notification = outgoing.notification;
  const std::string button = Utf8(notification.button_title.c_str());
  if (!button.empty()) outgoing.keys = ButtonActions();
  const std::string text = Utf8(notification.text.c_str());
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_method_call(bus_.get(), &m, kServerName, kServerPath, kServerName,
                                         "Notify");
  if (r >= 0) {
    r = sd_bus_message_append(m, "susss", Utf8(kProductName).c_str(), 0u, kAppIcon,
                              Utf8(notification.title.c_str()).c_str(),
                              (server_has_markup_ ? EscapeMarkup(text) : text).c_str());
  }
  if (r >= 0) r = sd_bus_message_open_container(m, 'a', "s");
  for (const std::string& key : outgoing.keys) {
    if (r >= 0) r = sd_bus_message_append(m, "ss", key.c_str(), button.c_str());
  }
  if (r >= 0) r = sd_bus_message_close_container(m);
  if (r >= 0) r = AppendHints(m, Utf8(notification.picture.c_str()));
  if (r >= 0) {
    r = sd_bus_message_append(m, "i", notification.seconds > 0 ? notification.seconds * 1000 : -1);
  }
  if (r >= 0) r = sd_bus_call_async(bus_.get(), nullptr, m, OnSent, this, kNotifyTimeoutUs);
  uint64_t cookie = 0;
  if (r >= 0) r = sd_bus_message_get_cookie(m, &cookie);
  sd_bus_message_unref(m);
  if (r < 0) {
    LogW(kLogSysFail, u"SHELL: cannot send notification \"%s\", error %d",
         notification.title.c_str(), -r);
    Finish(outgoing, false);
    return;
  }
  sent_.emplace(cookie, std::move(outgoing));
}

void NotificationsClient::Finish(Outgoing& outgoing, bool shown) {
  {
    std::lock_guard lock(mutex_);
    --waiting_;
  }
  outgoing.shown(shown);
}

int NotificationsClient::OnSent(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<NotificationsClient*>(userdata);
  uint64_t cookie = 0;
  if (sd_bus_message_get_reply_cookie(m, &cookie) < 0) return 0;
  const auto sent = self->sent_.find(cookie);
  if (sent == self->sent_.end()) return 0;
  Outgoing outgoing = std::move(sent->second);
  self->sent_.erase(sent);
  const sd_bus_error* failure = sd_bus_message_get_error(m);
  uint32_t id = 0;
  const bool shown = failure == nullptr && sd_bus_message_read(m, "u", &id) >= 0;
  if (!shown) {
    LogW(kLogError, u"SHELL: the notification server did not take notification \"%s\": %S",
         outgoing.notification.title.c_str(),
         failure != nullptr && failure->message != nullptr ? failure->message : "bad reply");
  } else if (!outgoing.keys.empty()) {
    self->buttons_.push_back({id, outgoing.keys, outgoing.notification, 0});
    if (self->buttons_.size() > kRememberedButtons) self->buttons_.pop_front();
  }
  self->Finish(outgoing, shown);
  return 0;
}

void NotificationsClient::OnButton(uint32_t id, const std::string& key) {
  const auto button = std::find_if(buttons_.begin(), buttons_.end(),
                                   [id](const Button& each) { return each.id == id; });
  if (button == buttons_.end()) return;
  if (button->closed_at != 0 &&
      MonotonicMicroseconds() - button->closed_at >= kActionAfterCloseUs) {
    buttons_.erase(button);
    return;
  }
  if (std::find(button->keys.begin(), button->keys.end(), key) == button->keys.end()) {
    LogW(kLogNotable, u"SHELL: notification %u offered no action \"%S\"; ignored", id, key.c_str());
    return;
  }
  const DesktopNotification notification = button->notification;
  buttons_.erase(button);
  RunButton(notification);
}

void NotificationsClient::OnClosed(uint32_t id) {
  const uint64_t now = MonotonicMicroseconds();
  // Closed ones stay answerable a little longer: the action may come after.
  std::erase_if(buttons_, [now](const Button& button) {
    return button.closed_at != 0 && now - button.closed_at >= kActionAfterCloseUs;
  });
  for (Button& button : buttons_) {
    if (button.id == id && button.closed_at == 0) button.closed_at = now;
  }
}

bool NotificationsClient::OurNotification(uint32_t id) const {
  return id != 0 && std::find(recent_.begin(), recent_.end(), id) != recent_.end();
}

int NotificationsClient::OnSignal(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* self = static_cast<NotificationsClient*>(userdata);
  // Only the server that answered us speaks for its notifications: any
  // program on the bus can emit these signals.
  const char* sender = sd_bus_message_get_sender(m);
  if (sender == nullptr || self->server_.empty() || self->server_ != sender) return 0;
  const std::string member = sd_bus_message_get_member(m);
  uint32_t id = 0;
  if (member == "ActionInvoked") {
    const char* action = nullptr;
    if (sd_bus_message_read(m, "us", &id, &action) < 0) return 0;
    if (self->message_box_ && self->message_box_->id == id) {
      self->message_box_->answer = std::atoi(action);
    } else if (self->OurNotification(id)) {
      self->balloon_event_(NIN_BALLOONUSERCLICK);
    } else {
      self->OnButton(id, action);
    }
  } else if (member == "NotificationClosed") {
    uint32_t reason = 0;
    if (sd_bus_message_read(m, "uu", &id, &reason) < 0) return 0;
    if (self->message_box_ && self->message_box_->id == id) {
      self->message_box_->closed_at = MonotonicMicroseconds();
    } else if (self->OurNotification(id)) {
      // 3: taken away by a CloseNotification call; else expired or dismissed.
      self->balloon_event_(reason == 3 ? NIN_BALLOONHIDE : NIN_BALLOONTIMEOUT);
    } else {
      self->OnClosed(id);
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
      server_ = sd_bus_message_get_sender(reply);
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
