#include "platform/shell.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/desktop_shell.h"
#include "platform/headless_shell.h"
#include "platform/ui.h"
#include "wardex/crashlog.h"

namespace wardex::platform {

namespace {

std::mutex g_backend_mutex;
std::shared_ptr<ShellBackend> g_backend;

// The backend to call; the headless one until another is installed.
std::shared_ptr<ShellBackend> Backend() {
  std::lock_guard lock(g_backend_mutex);
  if (!g_backend) g_backend = std::make_shared<HeadlessShell>();
  return g_backend;
}

// The variable's value, or an empty text when it is not set.
std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

class LoopShellHost final : public ShellHost {
 public:
  bool PostMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) override {
    return platform::PostMessage(hwnd, message, wparam, lparam);
  }
  void BroadcastMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
    platform::BroadcastMessage(message, wparam, lparam);
  }
  UINT RegisterWindowMessage(const char16_t* name) override {
    return platform::RegisterWindowMessage(name);
  }
};

// The backend that the library at |path| makes, or null.
std::shared_ptr<ShellBackend> BackendFromLibrary(const std::string& path,
                                                 const ShellLibraryLoader& load) {
  const auto create =
      load ? reinterpret_cast<CreateShellBackendFunction>(load(path, kCreateShellBackendExport))
           : nullptr;
  return std::shared_ptr<ShellBackend>(create != nullptr ? create(&AgentShellHost()) : nullptr);
}

}  // namespace

ShellHost& AgentShellHost() {
  static LoopShellHost host;
  return host;
}

void SetShellBackend(std::shared_ptr<ShellBackend> backend) {
  std::lock_guard lock(g_backend_mutex);
  g_backend = std::move(backend);
}

bool InstallShellBackendFromEnvironment(MessageLoop& loop, const ShellLibraryLoader& load) {
  const std::string choice = Environment("WARDEX_SHELL");
  if (std::filesystem::path(choice).is_absolute()) {
    if (auto backend = BackendFromLibrary(choice, load)) {
      SetShellBackend(std::move(backend));
      LogW(kLogInfo, u"SHELL: backend from %S", choice.c_str());
      return true;
    }
    LogW(kLogError, u"SHELL: no backend from %S, using the headless backend", choice.c_str());
    SetShellBackend(nullptr);
    return false;
  }
  if (choice == "desktop" || choice.empty()) {
    if (auto desktop = CreateDesktopShell(loop)) {
      SetShellBackend(std::move(desktop));
      LogW(kLogInfo, u"SHELL: desktop backend %s", kDesktopShellPlace);
      return true;
    }
    if (choice == "desktop") {
      LogW(kLogNotable,
           u"SHELL: no session bus for the desktop backend, using the headless backend");
    }
  } else if (choice != "headless") {
    LogW(kLogNotable, u"SHELL: unknown backend \"%S\", using the headless backend", choice.c_str());
  }
  SetShellBackend(nullptr);
  LogW(kLogInfo, u"SHELL: headless backend");
  return true;
}

void ShellBackend::ShowNotification(const DesktopNotification& notification,
                                    NotificationShown shown) {
  LogW(kLogInfo, u"SHELL: notification \"%s\": \"%s\" (%d s, button \"%s\"), not shown: no desktop",
       notification.title.c_str(), notification.text.c_str(), notification.seconds,
       notification.button_title.c_str());
  shown(false);
}

bool Shell_NotifyIcon(uint32_t message, const NOTIFYICONDATAW* data) {
  if (data == nullptr) return false;
  return Backend()->NotifyIcon(message, *data);
}

bool TrackPopupMenu(const Menu& popup, HWND owner) {
  const uint32_t command = Backend()->TrackPopupMenu(popup, owner);
  if (command == 0) return false;
  PostMessage(owner, WM_COMMAND, command, 0);
  return true;
}

void SetNotifyIconMenu(UINT id, const Menu& popup, HWND target) {
  Backend()->SetIconMenu(id, popup, target);
}

bool HasTrayHost() { return Backend()->HasTrayHost(); }

void ShowDesktopNotification(const DesktopNotification& notification, NotificationShown shown) {
  Backend()->ShowNotification(
      notification, shown ? std::move(shown) : [](bool) {});
}

int MessageBox(HWND owner, const KaOSAL::KaString& text, const KaOSAL::KaString& caption,
               uint32_t type) {
  return Backend()->MessageBox(owner, text, caption, type);
}

}  // namespace wardex::platform
