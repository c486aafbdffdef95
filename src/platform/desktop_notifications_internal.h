// The client of org.freedesktop.Notifications: balloons are notifications,
// one per icon, replaced in place, whose default action is the balloon
// click; the Console's notifications carry their button, which the agent
// runs when the server reports it; a message box is a notification with one
// action per button, waited for. Signals count only from the server that
// answered our calls, and a button only for the keys we offered.
// Internal to the desktop backend (desktop_bus_internal.h).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "osal/ka_string.h"
#include "platform/desktop_bus_internal.h"
#include "platform/shell.h"
#include "platform/window_messages.h"

namespace wardex::platform::desktop {

struct Balloon {
  std::string title;
  std::string text;
  uint32_t icon_flags = 0;
  int32_t timeout_ms = -1;
};

class NotificationsClient {
 public:
  // |balloon_event| tells the icon's handler a click on, or the end of,
  // a balloon (NIN_BALLOONUSERCLICK, NIN_BALLOONTIMEOUT, NIN_BALLOONHIDE).
  NotificationsClient(BusConnection& bus, std::function<void(UINT)> balloon_event);
  // Tells whoever still waits that their notification was not shown.
  ~NotificationsClient();
  NotificationsClient(const NotificationsClient&) = delete;
  NotificationsClient& operator=(const NotificationsClient&) = delete;

  // Follows the server's owner and signals; sd-bus's result.
  int Subscribe();
  // Any thread: |balloon| goes out at the next flush, replacing one that is
  // not out yet, so balloons do not stack.
  void Queue(Balloon balloon);
  // Any thread: |notification| goes out at the next flush; |shown| is told
  // whether the server took it (false at once when too many wait).
  void Queue(DesktopNotification notification, NotificationShown shown);
  // Loop thread: sends the queued balloon and notifications.
  void Flush();
  // Loop thread, outside a dispatch: shows a message box and waits for the
  // user's button; IDCANCEL where nobody can answer.
  int MessageBox(const KaOSAL::KaString& text, const KaOSAL::KaString& caption, uint32_t type);

 private:
  struct MessageBoxWait {
    uint32_t id = 0;
    int answer = 0;          // 0 while nobody answered
    uint64_t closed_at = 0;  // when the daemon closed it without an answer
  };

  struct Outgoing {
    DesktopNotification notification;
    NotificationShown shown;
    std::vector<std::string> keys;  // the actions offered, once sent
  };
  // A notification whose button the server may still report.
  struct Button {
    uint32_t id = 0;
    std::vector<std::string> keys;
    DesktopNotification notification;
    uint64_t closed_at = 0;  // when the server closed it
  };

  void RequestCapabilities();
  void SendBalloon();
  void Send(Outgoing outgoing);
  // The keys of the actions that show a button once on this server.
  [[nodiscard]] std::vector<std::string> ButtonActions() const;
  // The server answered |outgoing|, or never will.
  void Finish(Outgoing& outgoing, bool shown);
  [[nodiscard]] bool OurNotification(uint32_t id) const;
  void OnButton(uint32_t id, const std::string& key);
  void OnClosed(uint32_t id);

  static int OnServerOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnSignal(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnCapabilities(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnServerInformation(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnNotified(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnSent(sd_bus_message* m, void* userdata, sd_bus_error* error);

  BusConnection& bus_;
  const std::function<void(UINT)> balloon_event_;

  // Loop thread only.
  enum class Capabilities { kUnknown, kRequested, kKnown } capabilities_ = Capabilities::kUnknown;
  std::string server_;  // the unique name of the server that answered
  bool server_has_actions_ = false;
  bool server_has_markup_ = false;
  // LXQt's server draws the "default" action as a button too.
  bool server_draws_default_ = false;
  bool notify_in_flight_ = false;
  uint32_t balloon_id_ = 0;
  std::deque<uint32_t> recent_;
  std::optional<MessageBoxWait> message_box_;
  std::map<uint64_t, Outgoing> sent_;  // waiting for the server, by call cookie
  std::deque<Button> buttons_;

  // Guarded by mutex_: what other threads change.
  std::mutex mutex_;
  std::optional<Balloon> balloon_;
  std::deque<Outgoing> outgoing_;
  size_t waiting_ = 0;  // queued or sent, not yet answered
};

}  // namespace wardex::platform::desktop
