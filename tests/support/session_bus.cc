#include "support/session_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "support/test_env.h"

namespace wardex::test {
namespace {

using Clock = std::chrono::steady_clock;

// Generous: the test machine is shared and slow under load.
constexpr int kStartTimeoutMs = 20000;
constexpr auto kStopGrace = std::chrono::seconds(5);

// A session bus that lets every peer own any name and talk to any other,
// and listens only on |socket_path|.
std::string BusConfig(const std::string& socket_path) {
  return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" +
         socket_path + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
}

// Waits for |pid| to end, at most until |deadline|; true when it was reaped.
bool ReapBy(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

PrivateSessionBus::PrivateSessionBus() {
  if (!Start() && pid_ > 0) Stop();
}

PrivateSessionBus::~PrivateSessionBus() {
  Stop();
  if (exported_) {
    if (had_address_) {
      setenv("DBUS_SESSION_BUS_ADDRESS", saved_address_.c_str(), 1);
    } else {
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
  }
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

bool PrivateSessionBus::Start() {
  std::string templ = (std::filesystem::temp_directory_path() / "wardex-bus-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) {
    error_ = "mkdtemp failed: " + std::string(std::strerror(errno));
    return false;
  }
  folder_ = templ;
  const std::string config = folder_ + "/bus.conf";
  if (!WriteFile(config, BusConfig(folder_ + "/bus"))) {
    error_ = "cannot write " + config;
    return false;
  }
  int address_pipe[2];
  if (pipe2(address_pipe, O_CLOEXEC) != 0) {
    error_ = "pipe2 failed";
    return false;
  }
  const std::string config_arg = "--config-file=" + config;
  const char* argv[] = {"dbus-daemon", config_arg.c_str(),  "--nofork",
                        "--nopidfile", "--print-address=3", nullptr};
  pid_ = fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec.
    if (address_pipe[1] == 3) {
      fcntl(3, F_SETFD, 0);
    } else {
      dup2(address_pipe[1], 3);
    }
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  close(address_pipe[1]);
  if (pid_ < 0) {
    close(address_pipe[0]);
    error_ = "fork failed";
    return false;
  }
  // The daemon writes its address once it listens.
  std::string printed;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (printed.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd fd{address_pipe[0], POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (poll(&fd, 1, static_cast<int>(std::max<int64_t>(left, 0))) <= 0) continue;
    char buffer[256];
    const ssize_t count = read(address_pipe[0], buffer, sizeof(buffer));
    if (count <= 0) break;
    printed.append(buffer, count);
  }
  close(address_pipe[0]);
  const size_t end = printed.find('\n');
  if (end == std::string::npos) {
    error_ = "dbus-daemon printed no address (is it installed?)";
    return false;
  }
  address_ = printed.substr(0, end);
  return true;
}

void PrivateSessionBus::ExportToEnvironment() {
  if (!exported_) {
    const char* old = getenv("DBUS_SESSION_BUS_ADDRESS");
    had_address_ = old != nullptr;
    if (old != nullptr) saved_address_ = old;
    exported_ = true;
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

bool PrivateSessionBus::Stop() {
  if (pid_ <= 0) return true;
  kill(pid_, SIGTERM);
  bool ended = ReapBy(pid_, Clock::now() + kStopGrace);
  if (!ended) {
    kill(pid_, SIGKILL);
    ended = ReapBy(pid_, Clock::now() + kStopGrace);
  }
  if (ended) pid_ = -1;
  return ended;
}

}  // namespace wardex::test
