// ConsoleModule.so: the Console module. Its view hands everything it is asked
// to show to a backend: the desktop one (the wardex-console process beside
// this library) when the user has a display and a session bus, else the
// headless one, which logs (see log_backend.h).
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "console_backend.h"
#include "desktop_backend.h"
#include "log_backend.h"
#include "wardex/console_host.h"
#include "wardex/console_view.h"
#include "wardex/crashlog.h"

namespace wardex::console {
namespace {

class ConsoleView final : public IConsoleView, public IHostedConsole {
 public:
  explicit ConsoleView(std::unique_ptr<ConsoleBackend> backend) : backend_(std::move(backend)) {}
  ~ConsoleView() override = default;

  void ShowMessage(KaOSAL::KaString text, KaOSAL::KaString title, int32_t seconds,
                   KaOSAL::KaString button_title, KaOSAL::KaString button_command_line) override {
    backend_->ShowNotification(title, text, seconds, button_title, button_command_line);
  }
  void ShowMessageDialog(MessageDialog dialog) override { backend_->ShowDialog(std::move(dialog)); }
  bool ShowNewsfeed(NewsItem item) override { return backend_->ShowNews(item); }
  void ShowInfo() override { backend_->OpenPage(ConsolePage::kInfo); }
  void ShowSettings() override { backend_->OpenPage(ConsolePage::kSettings); }
  // The module's view is asked to refresh first, so that it describes
  // itself as it is now.
  ModuleViewRegistration ShowModuleView(IConsoleView* view, int32_t mode) override {
    if (view != nullptr && view != this) view->Refresh();
    return backend_->ShowModuleView(view, mode);
  }
  void Refresh() override { backend_->Refresh(); }
  void SetConsoleHost(IConsoleHost* host) override { backend_->SetHost(host); }
  void RunScheduled() override { backend_->RunScheduled(); }
  void SetOwnerWindow(WindowHandle owner) override {
    owner_.store(owner);
    LogW(kLogTrace, u"CONSOLE: owner window %p", static_cast<const void*>(owner));
  }

 private:
  std::unique_ptr<ConsoleBackend> backend_;
  std::atomic<WindowHandle> owner_{nullptr};
};

std::mutex g_lock;
ConsoleView* g_view = nullptr;

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
  return std::make_unique<DesktopBackend>(std::move(options));
}

}  // namespace
}  // namespace wardex::console

// One view per process; a second CreateConsole returns the same view.
WARDEX_EXPORT wardex::IConsoleView* CreateConsole() {
  using namespace wardex::console;
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_view == nullptr) g_view = new ConsoleView(MakeBackend());
  return g_view;
}

// Pending dialogs are answered "no button" before the view goes.
WARDEX_EXPORT void DestroyConsole() {
  using namespace wardex::console;
  std::lock_guard<std::mutex> hold(g_lock);
  delete g_view;
  g_view = nullptr;
}
