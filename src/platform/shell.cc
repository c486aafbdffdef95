#include "platform/shell.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/desktop_shell.h"
#include "platform/headless_shell.h"
#include "platform/test_shell.h"
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

}  // namespace

void SetShellBackend(std::shared_ptr<ShellBackend> backend) {
  std::lock_guard lock(g_backend_mutex);
  g_backend = std::move(backend);
}

bool InstallShellBackendFromEnvironment(MessageLoop& loop) {
  const std::string choice = Environment("WARDEX_SHELL");
  if (choice == "test") {
    auto shell = std::make_shared<TestShell>(Environment("WARDEX_SHELL_TEST_LOG"));
    // The creation sequence adds the icon before the loop reads the control
    // channel, so refusals for it are given here; a bad value is logged.
    const std::string refused = Environment("WARDEX_SHELL_TEST_REFUSE_ADDS");
    if (!refused.empty()) shell->RunCommand("refuse-adds " + refused);
    const std::string control = Environment("WARDEX_SHELL_TEST_CONTROL");
    if (!control.empty() && !shell->ListenOn(loop, control)) {
      SetShellBackend(nullptr);
      return false;
    }
    SetShellBackend(shell);
    LogW(kLogInfo, u"SHELL: test backend");
    return true;
  }
  if (choice == "desktop" || choice.empty()) {
    if (auto desktop = CreateDesktopShell(loop)) {
      SetShellBackend(std::move(desktop));
      LogW(kLogInfo, u"SHELL: desktop backend on the session bus");
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

int MessageBox(HWND owner, const KaOSAL::KaString& text, const KaOSAL::KaString& caption,
               uint32_t type) {
  return Backend()->MessageBox(owner, text, caption, type);
}

void CopyToField(char16_t* field, int capacity, const char16_t* text) {
  int length = 0;
  if (text != nullptr) {
    while (length < capacity - 1 && text[length] != 0) ++length;
    std::memcpy(field, text, length * sizeof(char16_t));
  }
  field[length] = 0;
}

}  // namespace wardex::platform
