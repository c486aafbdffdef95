// wardex-console: the Console process. It reads the agent's messages from its
// end of the socket pair (descriptor 3), opens a window for each, and sends
// the answers back. It ends when the agent closes the socket, when a
// malformed message arrives, and once no window of it has been open for the
// idle time (notifications are the agent's: they need no Console).
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <string>

#include "page_window.h"
#include "protocol/console_protocol.h"

namespace wardex::console {

// The application id, which names the desktop file of the Console's windows.
inline constexpr char kApplicationId[] = "org.wardex.Console";

class ViewWindow;

class ConsoleApp {
 public:
  ConsoleApp(int socket_fd, guint idle_seconds);
  ~ConsoleApp();
  ConsoleApp(const ConsoleApp&) = delete;
  ConsoleApp& operator=(const ConsoleApp&) = delete;

  // Runs until the Console ends; returns the exit code.
  int Run();

 private:
  static void OnStartup(GApplication* application, gpointer self);
  static void OnActivate(GApplication*, gpointer) {}
  static gboolean OnSocket(gint fd, GIOCondition condition, gpointer self);
  static void OnWindowRemoved(GtkApplication* application, GtkWindow*, gpointer self);
  static gboolean OnIdle(gpointer self);

  // False when the stream is finished or broken.
  bool ReadMessages();
  void Dispatch(const ConsoleMessage& message);
  void Send(const ConsoleMessage& message);
  void ArmIdleTimer();
  void StopIdleTimer();
  void ShowView(const ShowViewMessage& view);
  void Quit();

  const int socket_;
  const guint idle_seconds_;
  GtkApplication* application_;
  FrameReader reader_;
  ConsoleTexts texts_;
  std::map<uint32_t, ViewWindow*> views_;  // open module views by id
  guint idle_timer_ = 0;
  guint socket_watch_ = 0;
  bool quitting_ = false;
};

}  // namespace wardex::console
