// A notification daemon for tests: owns org.freedesktop.Notifications on the
// session bus of this process's environment, records each Notify call, and
// emits ActionInvoked when a test clicks. Served by the default main context.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wardex::console {

struct ReceivedNotification {
  uint32_t id = 0;  // the id the daemon gave it
  std::string app_name;
  std::string summary;
  std::string body;
  std::vector<std::string> actions;
  int32_t expire_timeout = 0;
  std::string image_path;  // the "image-path" hint, or empty
};

class NotificationServer {
 public:
  // Owns the name; ok() once it did (waits up to 30 s).
  NotificationServer();
  ~NotificationServer();
  NotificationServer(const NotificationServer&) = delete;
  NotificationServer& operator=(const NotificationServer&) = delete;

  [[nodiscard]] bool ok() const { return owned_; }
  // Runs the main context until |count| notifications arrived or 30 s passed.
  [[nodiscard]] const std::vector<ReceivedNotification>& WaitFor(size_t count);
  // As a user's click on action |key| of notification |id|.
  void Invoke(uint32_t id, const std::string& key);

 private:
  static void OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                           const gchar* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer self);

  GDBusConnection* bus_ = nullptr;
  guint registration_ = 0;
  guint owner_ = 0;
  bool owned_ = false;
  std::vector<ReceivedNotification> received_;
};

}  // namespace wardex::console
