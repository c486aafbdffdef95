#include "support/reporting_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace wardex::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Generous: the test machine is shared and slow under load.
constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kStopGrace = std::chrono::seconds(5);

// Waits for |pid| to end, at most until |deadline|; true when it was reaped.
bool ReapBy(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    const pid_t done = waitpid(pid, nullptr, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
}

}  // namespace

ReportingServer::ReportingServer(const std::vector<std::string>& argv) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    error_ = "no pipe";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const int failed = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  if (failed != 0) pid_ = -1;
  std::string printed;
  for (const auto deadline = Clock::now() + kStartLimit;
       pid_ > 0 && printed.find('\n') == std::string::npos && Clock::now() < deadline;) {
    pollfd fd{ready[0], POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t count = read(ready[0], buffer, sizeof(buffer));
    if (count <= 0) break;
    printed.append(buffer, static_cast<size_t>(count));
  }
  close(ready[0]);
  const size_t end = printed.find('\n');
  if (end == std::string::npos) {
    error_ = argv[0] + " did not start or reported nothing (is it installed?)";
    Stop();
    pid_ = -1;
    return;
  }
  line_ = printed.substr(0, end);
}

ReportingServer::~ReportingServer() {
  Stop();
  if (variable_.empty()) return;
  if (had_value_) {
    setenv(variable_.c_str(), saved_value_.c_str(), 1);
  } else {
    unsetenv(variable_.c_str());
  }
}

void ReportingServer::Export(const char* variable, const std::string& value) {
  if (variable_.empty()) {
    variable_ = variable;
    const char* old = getenv(variable);
    had_value_ = old != nullptr;
    if (had_value_) saved_value_ = old;
  }
  setenv(variable, value.c_str(), 1);
}

bool ReportingServer::Stop() {
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
