// The harness on Linux: the agent in a private network namespace, started
// with posix_spawn and signalled.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "integration/agent_harness.h"

extern char** environ;

namespace wardex::test {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

const char kAgentExecutable[] = "wardex";

bool CanUnshareNetwork(std::string* reason) {
  const int status = std::system("unshare -n -- sh -c 'ip link set lo up' >/dev/null 2>&1");
  if (status == 0) return true;
  *reason = "no private network namespace here (unshare -n or ip link failed)";
  return false;
}

AgentProcess::~AgentProcess() {
  if (Running()) {
    kill(pid_, SIGKILL);
    Wait(milliseconds(5000));
  }
}

int AgentProcess::Wait(milliseconds timeout) {
  const auto deadline = steady_clock::now() + timeout;
  while (status_ < 0) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (done < 0 || steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return status_;
}

bool AgentProcess::Signal(int signal_number) const { return kill(pid_, signal_number) == 0; }

void AgentTree::StageProgram(const std::string& from, const std::string& to) {
  StageFile(from, to);
  fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec);
}

void AgentTree::StagePlatform() {
  const std::string anchor = root_.root() + "/etc/wardex/trust/root-ca.pem";
  StageFile(WARDEX_TEST_CA_PEM, anchor);
  chmod(anchor.c_str(), 0644);
}

void AgentTree::AddDesktopConsole() { StageDesktopConsole(WARDEX_CONSOLE_PROGRAM); }

void AgentTree::StageDesktopConsole(const std::string& program_file) {
  StageFile(WARDEX_CONSOLE_MODULE_SO,
            app_dir_ + "/modules/consolemodule/ConsoleModule" + kLibrarySuffix);
  StageProgram(program_file, app_dir_ + "/modules/consolemodule/wardex-console" + kProgramSuffix);
}

void AgentTree::AddFakeDesktopConsole(const std::vector<std::string>& settings) {
  StageDesktopConsole(WARDEX_FAKE_CONSOLE_PROGRAM);
  // The Console module takes the desktop for one with a display and a bus;
  // the fake process needs neither.
  SetEnv("DISPLAY", ":wardex-test");
  SetEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + test_dir_ + "/no-bus");
  SetEnv("FAKE_CONSOLE_RECORD", test_dir_ + "/console.record");
  for (const std::string& setting : settings) {
    const size_t equals = setting.find('=');
    SetEnv("FAKE_CONSOLE_" + setting.substr(0, equals), setting.substr(equals + 1));
  }
}

std::vector<std::string> AgentTree::FakeConsoleRecord() const {
  return ReadLines(test_dir_ + "/console.record");
}

std::unique_ptr<AgentProcess> AgentTree::Start(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = {"unshare", "-n", "--",
                                   "sh",      "-c", "ip link set lo up && exec \"$0\" \"$@\""};
  if (share_test_network_) args.clear();
  if (as_nobody_) {
    const std::string id = std::to_string(kNobodyUid);
    args.insert(args.end(), {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"});
  }
  args.push_back(app_dir_ + "/" + executable_name_);
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string output = test_dir_ + "/agent.out";
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? std::make_unique<AgentProcess>(pid) : nullptr;
}

void AgentTree::RunAsNobody() {
  for (const std::string& folder :
       {root_.config_home(), root_.data_home(), root_.state_home(), root_.path() + "/cache",
        root_.path() + "/runtime", test_dir_}) {
    lchown(folder.c_str(), kNobodyUid, kNobodyUid);
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      lchown(entry.path().c_str(), kNobodyUid, kNobodyUid);
  }
  as_nobody_ = true;
}

void AgentTest::SetUp() {
  std::string reason;
  if (!CanUnshareNetwork(&reason)) GTEST_SKIP() << reason;
}

}  // namespace wardex::test
