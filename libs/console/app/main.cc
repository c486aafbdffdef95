// wardex-console: started by ConsoleModule.so with its end of the socket pair
// on descriptor 3. WARDEX_CONSOLE_IDLE_SECONDS shortens the idle time (tests).
#include <cstdlib>

#include "console_app.h"

int main() {
  guint idle_seconds = 60;
  if (const char* value = getenv("WARDEX_CONSOLE_IDLE_SECONDS")) {
    const long parsed = strtol(value, nullptr, 10);
    if (parsed > 0 && parsed <= 3600) idle_seconds = static_cast<guint>(parsed);
  }
  // X11 desktops find the desktop file through the window's class, which GTK
  // takes from the program's name.
  g_set_prgname(wardex::console::kApplicationId);
  wardex::console::ConsoleApp app(wardex::console::kConsoleSocketFd, idle_seconds);
  return app.Run();
}
