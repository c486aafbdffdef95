// The agent run from the staged installation with the demo modules and
// Console: what the demo shows a newcomer. The agent runs in a private
// network namespace, so nothing it does can leave the computer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "stage_test_env.h"

namespace wardex::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The unshare options of a private network namespace, and with |own_processes|
// also of a process namespace with its own /proc: "-unregister" closes every
// running agent of the user, which must not reach the agents of tests running
// beside this one.
std::vector<std::string> UnshareOptions(bool own_processes) {
  if (own_processes) return {"unshare", "-n", "-p", "-f", "-m", "--mount-proc"};
  return {"unshare", "-n"};
}

// True when unshare with these options works here (root, or user namespaces allowed).
bool CanUnshare(bool own_processes) {
  std::string command;
  for (const std::string& word : UnshareOptions(own_processes)) command += word + " ";
  return std::system((command + "true >/dev/null 2>&1").c_str()) == 0;
}

// Starts the staged agent with |arguments| in private namespaces. Without
// |own_processes| unshare replaces itself with the agent: the pid is the agent's.
pid_t StartAgent(const std::vector<std::string>& arguments, bool own_processes = false) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  std::vector<std::string> words = UnshareOptions(own_processes);
  words.insert(words.end(), {"--", StagedApp() + "/wardex"});
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

// The exit status within |limit|, or -1 (the agent is then killed).
int WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(20ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

// The staged wardex-ipc's reply to |message|, or empty when none came.
std::string Send(const std::string& message) {
  const std::string command = StagedApp() + "/wardex-ipc send '" + message + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string reply;
  char buffer[512];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) reply.append(buffer, n);
  return pclose(pipe) == 0 ? reply : std::string();
}

class StagedAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WARDEX_STAGE_HAS_AGENT) GTEST_SKIP() << "the wardex executable is not built";
    if (!CanUnshare(false)) GTEST_SKIP() << "no private network namespace here";
    // The demo's machine root: the staged anchors and the common folder.
    fs::copy(StagedRoot(), env_.root().root(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    env_.env().Set("WARDEX_SHELL", "headless");
    env_.env().Set("WARDEX_LOG_JOURNAL", "0");
    env_.env().Set("HOME", env_.root().path());
    env_.env().Set("TMPDIR", env_.root().path() + "/tmp");
    ASSERT_TRUE(WriteFile(env_.root().path() + "/tmp/a", "12345"));
  }

  // Polls the log until a line starts with |prefix|.
  bool WaitForLog(const std::string& prefix, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (!env_.LogTexts(prefix).empty()) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  // The agent's log, for a failure's message.
  std::string LogDump() const {
    std::string dump = "log:\n";
    for (const std::string& text : env_.LogTexts("")) dump += text + "\n";
    return dump;
  }

  StageTestEnv env_;
};

TEST_F(StagedAgentTest, RegisterAndUnregisterRunTheWardexModuleHooks) {
  if (!CanUnshare(true)) GTEST_SKIP() << "no private process namespace here";
  const std::string marker = env_.root().state_home() + "/wardex/modules/WardexModule.registered";
  ASSERT_EQ(WaitForExit(StartAgent({"-register"}, true), 30s), 0);
  EXPECT_TRUE(fs::exists(marker));
  ASSERT_EQ(WaitForExit(StartAgent({"/UNREGISTER"}, true), 30s), 0);
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_EQ(env_.LogTexts("WardexModule: "),
            (std::vector<std::string>{"WardexModule: registered (" + marker + ")",
                                      "WardexModule: unregistered (" + marker + ")"}));
}

TEST_F(StagedAgentTest, StartsAnswersRunsTheDemoModulesAndStops) {
  const pid_t agent = StartAgent({});
  std::string reply;
  for (int i = 0; i < 100 && reply.empty(); ++i) {
    reply = Send("{\"ModuleRequest\":5}");
    if (reply.empty()) std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(reply, "[{\"ModuleIdentificator\":\"\",\"ModuleRequest\":5}]\n") << LogDump();
  // The texts and product names of the staged files reach the tray.
  EXPECT_EQ(env_.LogTexts("SHELL: icon 130 added"),
            std::vector<std::string>{
                "SHELL: icon 130 added: icon 128, tip \"Wardex - Corvane Brisko\", visible"});
  // Every staged module and the Console loaded; only HandsetLink is missing.
  EXPECT_EQ(env_.LogTexts("ERROR: FATAL"), std::vector<std::string>{});
  EXPECT_EQ(env_.LogTexts("ERROR: Not found").size(), 1u);

  EXPECT_FALSE(Send("{\"ModuleRequest\":13}").empty());
  EXPECT_TRUE(WaitForLog("SnapCheckModule: quick check: 1 file, 5 B in ", 10s));
  EXPECT_EQ(env_.LogTexts("CONSOLE: module view").size(), 1u);

  // The demo modules answer through the agent's module requests.
  const std::string disk = Send("{\"ModuleRequest\":2,\"ModuleIdentificator\":\"WardexModule\"}");
  EXPECT_NE(disk.find("\"ResultDetails\":\"" + env_.root().path() + "\""), std::string::npos)
      << disk;
  EXPECT_NE(disk.find("\"SubResults\":\"FreeBytes="), std::string::npos) << disk;
  Send(
      "{\"ModuleRequest\":3,\"ModuleIdentificator\":\"TurboModule\",\"Switch\":1,"
      "\"SwitchParam\":2}");
  EXPECT_NE(Send("{\"ModuleRequest\":4,\"ModuleIdentificator\":\"TurboModule\"}")
                .find("\"SwitchState\":1"),
            std::string::npos);
  EXPECT_EQ(ReadFile(env_.root().state_home() + "/wardex/turbo"), "1\n");

  ASSERT_EQ(kill(agent, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(agent, 30s), 0);
  EXPECT_FALSE(env_.LogTexts("TRAY ### Closing...").empty());
}

}  // namespace
}  // namespace wardex::test
