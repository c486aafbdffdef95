#include "virtual_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace wardex::test {
namespace {

// Xvfb writes its display number to this descriptor once it accepts clients.
constexpr int kDisplayFd = 3;
constexpr auto kStartLimit = std::chrono::seconds(30);

}  // namespace

VirtualDisplay::VirtualDisplay() {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    error_ = "no pipe";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ready[1], kDisplayFd);
  // Xvfb reports every display number it finds taken: noise, not errors.
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<const char*> argv = {"Xvfb",    "-displayfd", "3",           "-nolisten", "tcp",
                                   "-screen", "0",          "1024x768x24", "-noreset",  nullptr};
  pid_t pid = -1;
  const int error =
      posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  if (error != 0) {
    close(ready[0]);
    error_ = "cannot start Xvfb";
    return;
  }
  pid_ = pid;
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd fd = {ready[0], POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0) continue;
    char c = 0;
    if (read(ready[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(ready[0]);
  if (number.empty()) {
    error_ = "Xvfb did not report a display";
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return;
  }
  name_ = ":" + number;
}

VirtualDisplay::~VirtualDisplay() {
  if (exported_) {
    if (had_display_) {
      setenv("DISPLAY", saved_display_.c_str(), 1);
    } else {
      unsetenv("DISPLAY");
    }
  }
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

void VirtualDisplay::ExportToEnvironment() {
  if (!exported_) {
    const char* current = getenv("DISPLAY");
    had_display_ = current != nullptr;
    if (had_display_) saved_display_ = current;
    exported_ = true;
  }
  setenv("DISPLAY", name_.c_str(), 1);
}

bool VirtualDisplay::WaitForWindow(const std::string& title) {
  const std::string search =
      "timeout 30 xdotool search --sync --onlyvisible --name '^" + title + "$' >/dev/null 2>&1";
  return system(search.c_str()) == 0;
}

bool VirtualDisplay::TypeInto(const std::string& title, const std::string& keys) {
  const std::string focus = "timeout 30 xdotool search --sync --onlyvisible --name '^" + title +
                            "$' windowfocus --sync >/dev/null 2>&1";
  const std::string type = "timeout 30 xdotool key " + keys + " >/dev/null 2>&1";
  return system(focus.c_str()) == 0 && system(type.c_str()) == 0;
}

}  // namespace wardex::test
