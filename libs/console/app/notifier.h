// Desktop notifications through org.freedesktop.Notifications on the session
// bus. A notification with a button gets an action (and the "default" action,
// which most daemons invoke on a click of its body) when the daemon offers
// actions; invoking it runs the button's command line. Actions stay
// answerable until the daemon reports the notification closed, and a few
// seconds longer, as some daemons send the close before the action.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "protocol/console_protocol.h"

namespace wardex::console {

class Notifier {
 public:
  // |on_action| is told the id of a notification whose button was used.
  explicit Notifier(std::function<void(uint32_t id)> on_action);
  ~Notifier();
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  // False when there is no session bus or no notification daemon answered.
  bool Show(const ShowNotificationMessage& message);
  // A news item: its picture as the notification's image, its button opening
  // its link with the desktop's opener.
  bool ShowNews(const ShowNewsMessage& message);
  // True while a notification with a button may still be clicked.
  bool HasLiveActions() const { return !actions_.empty(); }

 private:
  struct Action {
    uint32_t id = 0;  // the agent's id
    std::string command_line;
    std::string link;  // opened instead of running a command line when set
  };

  bool Connect();
  // Sends Notify; with |action|.id non-zero the button is |button_title|.
  bool Notify(const std::string& title, const std::string& text, const std::string& picture,
              int32_t seconds, const std::string& button_title, const Action& action);
  void OnSignal(const gchar* signal, GVariant* parameters);
  static void OnSignalThunk(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                            const gchar* signal, GVariant* parameters, gpointer self);
  void Forget(uint32_t daemon_id);

  std::function<void(uint32_t id)> on_action_;
  GDBusConnection* bus_ = nullptr;
  guint subscription_ = 0;
  bool has_actions_ = false;
  bool has_body_markup_ = false;
  std::map<uint32_t, Action> actions_;  // by the daemon's notification id
};

}  // namespace wardex::console
