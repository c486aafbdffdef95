#include "notifier.h"

#include <utility>

#include "gtk_owner.h"

namespace wardex::console {
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr int kCallTimeoutMs = 5000;
// How long a closed notification's action is still honoured.
constexpr guint kLateActionSeconds = 5;

}  // namespace

Notifier::Notifier(std::function<void(uint32_t id)> on_action) : on_action_(std::move(on_action)) {}

Notifier::~Notifier() {
  if (bus_ == nullptr) return;
  if (subscription_ != 0) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
  g_object_unref(bus_);
}

bool Notifier::Connect() {
  if (bus_ != nullptr) return true;
  GError* raw_error = nullptr;
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw_error);
  GErrorPtr error(raw_error);
  if (bus_ == nullptr) {
    g_warning("no session bus for notifications: %s", error->message);
    return false;
  }
  // A bus that goes away ends the notifications, not the Console's windows.
  g_dbus_connection_set_exit_on_close(bus_, FALSE);
  GVariantPtr reply(g_dbus_connection_call_sync(
      bus_, kService, kPath, kService, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"),
      G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr));
  if (reply) {
    GVariantIter* capabilities = nullptr;
    g_variant_get(reply.get(), "(as)", &capabilities);
    const gchar* capability = nullptr;
    while (g_variant_iter_loop(capabilities, "&s", &capability)) {
      if (g_strcmp0(capability, "actions") == 0) has_actions_ = true;
      if (g_strcmp0(capability, "body-markup") == 0) has_body_markup_ = true;
    }
    g_variant_iter_free(capabilities);
  }
  subscription_ =
      g_dbus_connection_signal_subscribe(bus_, nullptr, kService, nullptr, kPath, nullptr,
                                         G_DBUS_SIGNAL_FLAGS_NONE, OnSignalThunk, this, nullptr);
  return true;
}

bool Notifier::Show(const ShowNotificationMessage& message) {
  return Notify(message.title, message.text, std::string(), message.seconds, message.button_title,
                Action{message.id, message.command_line, std::string()});
}

bool Notifier::ShowNews(const ShowNewsMessage& message) {
  const std::string button = message.link.empty() || !message.button_title.empty()
                                 ? message.button_title
                                 : std::string("Open");
  return Notify(message.title, message.text, message.picture, 0, button,
                Action{message.id, std::string(), message.link});
}

bool Notifier::Notify(const std::string& title, const std::string& text, const std::string& picture,
                      int32_t seconds, const std::string& button_title, const Action& action) {
  if (!Connect()) return false;
  const bool with_action = has_actions_ && !button_title.empty();
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  if (with_action) {
    for (const char* key : {"default", "run"}) {
      g_variant_builder_add(&actions, "s", key);
      g_variant_builder_add(&actions, "s", button_title.c_str());
    }
  }
  // Where the daemon reads markup, the text is escaped so that it is shown, not interpreted.
  GCharPtr body(has_body_markup_ ? g_markup_escape_text(text.c_str(), -1) : g_strdup(text.c_str()));
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  if (!picture.empty())
    g_variant_builder_add(&hints, "{sv}", "image-path", g_variant_new_string(picture.c_str()));
  const gint32 timeout_ms = seconds > 0 ? seconds * 1000 : -1;
  GError* raw_error = nullptr;
  GVariantPtr reply(g_dbus_connection_call_sync(
      bus_, kService, kPath, kService, "Notify",
      g_variant_new("(susssasa{sv}i)", "Wardex", 0u, "", title.c_str(), body.get(), &actions,
                    &hints, timeout_ms),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &raw_error));
  GErrorPtr error(raw_error);
  if (!reply) {
    g_warning("notification not shown: %s", error->message);
    return false;
  }
  guint32 daemon_id = 0;
  g_variant_get(reply.get(), "(u)", &daemon_id);
  if (with_action) actions_[daemon_id] = action;
  return true;
}

void Notifier::OnSignalThunk(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                             const gchar* signal, GVariant* parameters, gpointer self) {
  static_cast<Notifier*>(self)->OnSignal(signal, parameters);
}

void Notifier::OnSignal(const gchar* signal, GVariant* parameters) {
  if (g_strcmp0(signal, "ActionInvoked") == 0 &&
      g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
    guint32 daemon_id = 0;
    const gchar* key = nullptr;
    g_variant_get(parameters, "(u&s)", &daemon_id, &key);
    const auto it = actions_.find(daemon_id);
    if (it == actions_.end()) return;
    const Action action = it->second;
    actions_.erase(it);
    GError* raw_error = nullptr;
    const bool started =
        action.link.empty()
            ? g_spawn_command_line_async(action.command_line.c_str(), &raw_error)
            : g_app_info_launch_default_for_uri(action.link.c_str(), nullptr, &raw_error);
    if (!started) {
      GErrorPtr error(raw_error);
      g_warning("cannot open \"%s%s\": %s", action.command_line.c_str(), action.link.c_str(),
                error->message);
    }
    on_action_(action.id);
  } else if (g_strcmp0(signal, "NotificationClosed") == 0 &&
             g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
    guint32 daemon_id = 0;
    guint32 reason = 0;
    g_variant_get(parameters, "(uu)", &daemon_id, &reason);
    if (actions_.count(daemon_id) == 0) return;
    struct Later {
      Notifier* self;
      uint32_t daemon_id;
    };
    g_timeout_add_seconds_full(
        G_PRIORITY_DEFAULT, kLateActionSeconds,
        +[](gpointer data) -> gboolean {
          auto* later = static_cast<Later*>(data);
          later->self->Forget(later->daemon_id);
          return G_SOURCE_REMOVE;
        },
        new Later{this, daemon_id}, +[](gpointer data) { delete static_cast<Later*>(data); });
  }
}

void Notifier::Forget(uint32_t daemon_id) { actions_.erase(daemon_id); }

}  // namespace wardex::console
