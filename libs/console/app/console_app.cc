#include "console_app.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <glib-unix.h>

#include "dialog_window.h"
#include "info_window.h"
#include "settings_window.h"
#include "view_window.h"

namespace wardex::console {
namespace {

// The icon of the desktop file of that id; the staged tree holds it two
// folders above the program, an installed one in the desktop's icon theme.
constexpr char kIconName[] = "wardex";
constexpr char kStagedIcons[] = "/../../share/icons";
// The agent always reads; a write that cannot go out in this time means it hangs.
constexpr time_t kSendTimeoutSeconds = 5;

}  // namespace

// Each Console serves one agent: no single-instance negotiation on the bus,
// where a second Console would otherwise hand its work to the first.
ConsoleApp::ConsoleApp(int socket_fd, guint idle_seconds)
    : socket_(socket_fd),
      idle_seconds_(idle_seconds),
      application_(gtk_application_new(kApplicationId, G_APPLICATION_NON_UNIQUE)) {
  const timeval timeout = {kSendTimeoutSeconds, 0};
  setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  g_signal_connect(application_, "startup", G_CALLBACK(OnStartup), this);
  g_signal_connect(application_, "activate", G_CALLBACK(OnActivate), this);
  g_signal_connect(application_, "window-removed", G_CALLBACK(OnWindowRemoved), this);
}

ConsoleApp::~ConsoleApp() {
  if (socket_watch_ != 0) g_source_remove(socket_watch_);
  if (idle_timer_ != 0) g_source_remove(idle_timer_);
  g_object_unref(application_);
  close(socket_);
}

int ConsoleApp::Run() {
  char name[] = "wardex-console";
  char* argv[] = {name, nullptr};
  return g_application_run(G_APPLICATION(application_), 1, argv);
}

void ConsoleApp::OnStartup(GApplication* application, gpointer self) {
  auto* app = static_cast<ConsoleApp*>(self);
  if (gchar* program = g_file_read_link("/proc/self/exe", nullptr)) {
    gchar* folder = g_path_get_dirname(program);
    const std::string icons = std::string(folder) + kStagedIcons;
    gtk_icon_theme_add_search_path(gtk_icon_theme_get_for_display(gdk_display_get_default()),
                                   icons.c_str());
    g_free(folder);
    g_free(program);
  }
  gtk_window_set_default_icon_name(kIconName);
  // Held until Quit: the Console stays while no window is open.
  g_application_hold(application);
  app->socket_watch_ = g_unix_fd_add(
      app->socket_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), OnSocket, app);
  app->ArmIdleTimer();
}

gboolean ConsoleApp::OnSocket(gint, GIOCondition, gpointer self) {
  auto* app = static_cast<ConsoleApp*>(self);
  if (app->ReadMessages()) return G_SOURCE_CONTINUE;
  app->socket_watch_ = 0;
  app->Quit();
  return G_SOURCE_REMOVE;
}

bool ConsoleApp::ReadMessages() {
  char buffer[64 * 1024];
  const ssize_t got = recv(socket_, buffer, sizeof(buffer), MSG_DONTWAIT);
  if (got < 0) return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK;
  if (got == 0) return false;  // the agent closed the Console
  reader_.Append(buffer, static_cast<size_t>(got));
  ConsoleMessage message;
  for (;;) {
    const FrameReader::Status status = reader_.Next(&message);
    if (status == FrameReader::Status::kNeedMore) return true;
    if (status == FrameReader::Status::kMalformed) {
      g_warning("malformed message from the agent; the Console ends");
      return false;
    }
    Dispatch(message);
  }
}

void ConsoleApp::Dispatch(const ConsoleMessage& message) {
  if (const auto* ping = std::get_if<Ping>(&message)) {
    Send(Pong{ping->serial});
  } else if (const auto* dialog = std::get_if<ShowDialogMessage>(&message)) {
    StopIdleTimer();
    DialogWindow::Open(application_, *dialog, [this](const DialogAnswer& answer) { Send(answer); });
  } else if (const auto* texts = std::get_if<SetTexts>(&message)) {
    texts_.Set(*texts);
    RetitlePageWindows(application_, texts_);
  } else if (const auto* info = std::get_if<ShowInfoMessage>(&message)) {
    StopIdleTimer();
    OpenInfoWindow(application_, texts_, *info);
  } else if (const auto* settings = std::get_if<ShowSettingsMessage>(&message)) {
    StopIdleTimer();
    SettingsWindow::Open(application_, texts_, *settings,
                         [this](const SettingsChosen& chosen) { Send(chosen); });
  } else if (const auto* view = std::get_if<ShowViewMessage>(&message)) {
    ShowView(*view);
  } else {
    g_warning("the agent sent a message meant for it; ignored");
  }
}

void ConsoleApp::ShowView(const ShowViewMessage& view) {
  const auto open = views_.find(view.view_id);
  if (open != views_.end()) {
    open->second->Update(view);
    gtk_window_present(open->second->window());
    return;
  }
  StopIdleTimer();
  ViewWindow* window = ViewWindow::Open(
      application_, texts_, view, [this](const ViewButtonPressed& pressed) { Send(pressed); },
      [this](uint32_t command) { Send(MenuCommandChosen{command}); });
  views_[view.view_id] = window;
  // The map forgets the view when its window goes.
  using ViewKey = std::pair<ConsoleApp*, uint32_t>;
  g_signal_connect_swapped(window->window(), "destroy", G_CALLBACK(+[](ViewKey* key) {
                             key->first->views_.erase(key->second);
                             delete key;
                           }),
                           new ViewKey(this, view.view_id));
}

void ConsoleApp::Send(const ConsoleMessage& message) {
  const std::string frame = EncodeFrame(message);
  size_t done = 0;
  while (done < frame.size()) {
    const ssize_t sent = send(socket_, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) {
      g_warning("the agent does not read; the Console ends");
      Quit();
      return;
    }
    done += static_cast<size_t>(sent);
  }
}

void ConsoleApp::OnWindowRemoved(GtkApplication* application, GtkWindow*, gpointer self) {
  if (gtk_application_get_windows(application) == nullptr)
    static_cast<ConsoleApp*>(self)->ArmIdleTimer();
}

void ConsoleApp::StopIdleTimer() {
  if (idle_timer_ == 0) return;
  g_source_remove(idle_timer_);
  idle_timer_ = 0;
}

void ConsoleApp::ArmIdleTimer() {
  if (idle_timer_ != 0) g_source_remove(idle_timer_);
  idle_timer_ = g_timeout_add_seconds(idle_seconds_, OnIdle, this);
}

gboolean ConsoleApp::OnIdle(gpointer self) {
  auto* app = static_cast<ConsoleApp*>(self);
  app->idle_timer_ = 0;
  if (gtk_application_get_windows(app->application_) == nullptr) app->Quit();
  return G_SOURCE_REMOVE;
}

void ConsoleApp::Quit() {
  if (quitting_) return;
  quitting_ = true;
  // Windows still open are not answered: the agent answers them when the socket closes.
  g_application_quit(G_APPLICATION(application_));
  g_application_release(G_APPLICATION(application_));
}

}  // namespace wardex::console
