// The client of org.freedesktop.Notifications: balloons are notifications,
// one per icon, replaced in place, whose default action is the balloon
// click; a message box is a notification with one action per button,
// waited for. Internal to the desktop backend (desktop_bus_internal.h).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "osal/ka_string.h"
#include "platform/desktop_bus_internal.h"
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
  NotificationsClient(const NotificationsClient&) = delete;
  NotificationsClient& operator=(const NotificationsClient&) = delete;

  // Follows the server's owner and signals; sd-bus's result.
  int Subscribe();
  // Any thread: |balloon| goes out at the next flush, replacing one that is
  // not out yet, so balloons do not stack.
  void Queue(Balloon balloon);
  // Loop thread: sends the queued balloon.
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

  void RequestCapabilities();
  [[nodiscard]] bool OurNotification(uint32_t id) const;

  static int OnServerOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnSignal(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnCapabilities(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int OnNotified(sd_bus_message* m, void* userdata, sd_bus_error* error);

  BusConnection& bus_;
  const std::function<void(UINT)> balloon_event_;

  // Loop thread only.
  enum class Capabilities { kUnknown, kRequested, kKnown } capabilities_ = Capabilities::kUnknown;
  bool server_has_actions_ = false;
  bool server_has_markup_ = false;
  bool notify_in_flight_ = false;
  uint32_t balloon_id_ = 0;
  std::deque<uint32_t> recent_;
  std::optional<MessageBoxWait> message_box_;

  // Guarded by mutex_: what other threads change.
  std::mutex mutex_;
  std::optional<Balloon> balloon_;
};

}  // namespace wardex::platform::desktop
