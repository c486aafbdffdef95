#include "notification_server.h"

#include <chrono>

namespace wardex::console {
namespace {

constexpr char kInterface[] = R"(
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
  </interface>
</node>)";

// Runs the default main context until |done| or 30 s passed.
template <class Done>
void RunUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(10000);
  }
}

}  // namespace

NotificationServer::NotificationServer() {
  // A connection of its own, closed with the server: the shared one would end
  // the test program when the test's bus daemon stops.
  const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr) return;
  bus_ = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  if (bus_ == nullptr) return;
  g_dbus_connection_set_exit_on_close(bus_, FALSE);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
  static const GDBusInterfaceVTable vtable = {OnMethodCall, nullptr, nullptr, {}};
  registration_ = g_dbus_connection_register_object(
      bus_, "/org/freedesktop/Notifications", node->interfaces[0], &vtable, this, nullptr, nullptr);
  g_dbus_node_info_unref(node);
  owner_ = g_bus_own_name_on_connection(
      bus_, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
      +[](GDBusConnection*, const gchar*, gpointer self) {
        static_cast<NotificationServer*>(self)->owned_ = true;
      },
      nullptr, this, nullptr);
  RunUntil([this] { return owned_; });
}

NotificationServer::~NotificationServer() {
  if (bus_ == nullptr) return;
  if (owner_ != 0) g_bus_unown_name(owner_);
  if (registration_ != 0) g_dbus_connection_unregister_object(bus_, registration_);
  g_dbus_connection_close_sync(bus_, nullptr, nullptr);
  g_object_unref(bus_);
}

const std::vector<ReceivedNotification>& NotificationServer::WaitFor(size_t count) {
  RunUntil([this, count] { return received_.size() >= count; });
  return received_;
}

void NotificationServer::Invoke(uint32_t id, const std::string& key) {
  g_dbus_connection_emit_signal(bus_, nullptr, "/org/freedesktop/Notifications",
                                "org.freedesktop.Notifications", "ActionInvoked",
                                g_variant_new("(us)", id, key.c_str()), nullptr);
  g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
}

void NotificationServer::OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                      const gchar* method, GVariant* parameters,
                                      GDBusMethodInvocation* invocation, gpointer self) {
  auto* server = static_cast<NotificationServer*>(self);
  if (g_strcmp0(method, "GetCapabilities") == 0) {
    const gchar* capabilities[] = {"actions", "body", nullptr};
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", capabilities));
    return;
  }
  ReceivedNotification notification;
  notification.id = static_cast<uint32_t>(server->received_.size() + 1);
  const gchar *app_name, *icon, *summary, *body;
  guint32 replaces = 0;
  GVariantIter* actions = nullptr;
  GVariant* hints = nullptr;
  g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", &app_name, &replaces, &icon, &summary, &body,
                &actions, &hints, &notification.expire_timeout);
  notification.app_name = app_name;
  notification.summary = summary;
  notification.body = body;
  const gchar* action = nullptr;
  while (g_variant_iter_loop(actions, "&s", &action)) notification.actions.push_back(action);
  g_variant_iter_free(actions);
  const gchar* image_path = nullptr;
  if (g_variant_lookup(hints, "image-path", "&s", &image_path))
    notification.image_path = image_path;
  g_variant_unref(hints);
  g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", notification.id));
  server->received_.push_back(std::move(notification));
}

}  // namespace wardex::console
