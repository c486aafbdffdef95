// The Console's backend on Windows: Win32 windows on the module's own
// user-interface thread (win/window_thread.h). A Windows session always has
// a desktop to show them on.
#include <memory>
#include <utility>

#include "console_backend.h"
#include "desktop_backend.h"
#include "win/window_thread.h"

namespace wardex::console {

std::unique_ptr<ConsoleBackend> MakeBackend() {
  return std::make_unique<DesktopBackend>([](ConsoleWindows::EventHandler on_event) {
    return std::make_unique<win::WindowThread>(std::move(on_event));
  });
}

}  // namespace wardex::console
