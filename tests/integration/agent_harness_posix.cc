// The harness on Linux: the agent in a private network namespace, as root
// or as an unprivileged user.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "integration/agent_harness.h"

namespace wardex::test {

namespace fs = std::filesystem;

const char kAgentExecutable[] = "wardex";

bool CanUnshareNetwork(std::string* reason) {
  const int status = std::system("unshare -n -- sh -c 'ip link set lo up' >/dev/null 2>&1");
  if (status == 0) return true;
  *reason = "no private network namespace here (unshare -n or ip link failed)";
  return false;
}

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
  root_.Set("DISPLAY", ":wardex-test");
  root_.Set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + test_dir_ + "/no-bus");
  root_.Set("FAKE_CONSOLE_RECORD", test_dir_ + "/console.record");
  for (const std::string& setting : settings) {
    const size_t equals = setting.find('=');
    root_.Set("FAKE_CONSOLE_" + setting.substr(0, equals), setting.substr(equals + 1));
  }
}

std::vector<std::string> AgentTree::FakeConsoleRecord() const {
  return ReadLines(test_dir_ + "/console.record");
}

// unshare replaces itself with sh and sh with the agent: the pid is the agent's.
std::vector<std::string> AgentTree::Launch(const std::string& program) const {
  std::vector<std::string> words = {"/usr/bin/env"};
  if (!share_test_network_) {
    words.insert(words.end(),
                 {"unshare", "-n", "--", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\""});
  }
  if (as_nobody_) {
    const std::string id = std::to_string(kNobodyUid);
    words.insert(words.end(), {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"});
  }
  words.push_back(program);
  return words;
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
