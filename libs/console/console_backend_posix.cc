// The Console's backend on Linux and other POSIX desktops: the desktop one
// (the wardex-console process beside this library) when the user has a
// display and a session bus, else the headless one.
#include <dlfcn.h>
#include <unistd.h>

#include <bit>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "console_backend.h"
#include "console_channel.h"
#include "desktop_backend.h"
#include "log_backend.h"
#include "wardex/crashlog.h"

namespace wardex::console {
namespace {

bool IsSet(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && value[0] != '\0';
}

// A display to open windows on and a session bus for notifications. The
// bus may be the default one in the runtime folder without the variable.
bool HasDesktopSession() {
  if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) return false;
  if (IsSet("DBUS_SESSION_BUS_ADDRESS")) return true;
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && access((std::string(runtime) + "/bus").c_str(), F_OK) == 0;
}

// wardex-console in this library's folder. The agent loads the library
// through /proc/self/fd/N, so the name dladdr gives is resolved to the file.
std::string ConsoleProgramPath() {
  Dl_info info;
  if (dladdr(std::bit_cast<const void*>(&HasDesktopSession), &info) == 0 ||
      info.dli_fname == nullptr)
    return std::string();
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return std::string();
  std::string path(resolved);
  path.erase(path.find_last_of('/') + 1);
  return path + "wardex-console";
}

}  // namespace

std::unique_ptr<ConsoleBackend> MakeBackend() {
  if (!HasDesktopSession()) {
    LogW(kLogInfo, u"CONSOLE: no display or session bus; the Console is headless");
    return std::make_unique<LogBackend>();
  }
  ConsoleChannel::Options options;
  options.program = ConsoleProgramPath();
  if (options.program.empty() || access(options.program.c_str(), X_OK) != 0) {
    LogW(kLogError, u"CONSOLE: no Console program at \"%S\"; the Console is headless",
         options.program.c_str());
    return std::make_unique<LogBackend>();
  }
  return std::make_unique<DesktopBackend>([&options](ConsoleWindows::EventHandler on_event) {
    return std::make_unique<ConsoleChannel>(std::move(options), std::move(on_event));
  });
}

}  // namespace wardex::console
