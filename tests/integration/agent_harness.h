// Runs the real wardex binary in an installation tree of its own: a
// temporary folder with the executable and its libraries, the modules a test
// chooses (each the test_module fixture under the module's name), the
// test_console fixture as Console, install.cfg and the texts; its own
// WARDEX_ROOT (with the test authority as trust anchor), XDG folders and
// runtime folder; the test shell fixture with its control file and log. The
// agent runs inside a private network namespace; tests talk to it through
// wardex-ipc and the real IPC library and read its log, journal and registry.
// On Windows (agent_harness_win.cc) the tree holds Wardex.exe and DLLs, the
// test authority is a root of the Wine prefix, and the product key and the
// tracking log (the prefix's) start empty.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crashlog/log_test_util.h"
#include "support/test_env.h"
#include "support/wait.h"
#include "wardex/ipc.h"

namespace wardex::test {

// The channel the staged install.cfg names.
inline constexpr char kAgentChannel[] = "wardex-test";
// The agent's name on this system ("wardex", "Wardex").
extern const char kAgentExecutable[];
// A request every running agent answers, and its answer.
inline constexpr char kPing[] = R"({"ModuleRequest":5})";
inline constexpr char kPingReply[] = R"([{"ModuleIdentificator":"","ModuleRequest":5}])";

// True when this machine lets us make a private network namespace; the
// reason otherwise.
bool CanUnshareNetwork(std::string* reason);

// A client of the agent's channel through the IPC library in this process.
class IpcClient {
 public:
  IpcClient();
  // One exchange; the reply text, or empty when the request was not answered.
  std::string Send(const std::string& message, uint32_t timeout_ms);

 private:
  std::unique_ptr<IIpcClient, void(WARDEX_STDCALL*)(IIpcClient*)> client_;
};

// The agent as AgentTree started it.
class AgentProcess : public ChildProgram {
 public:
  using ChildProgram::ChildProgram;
  // Asks it to close as the system does at logoff: SIGTERM on Linux, WM_CLOSE
  // to its top-level windows on Windows.
  bool AskToClose() const;
  // Asks it to close; the exit status once it ended (30 s at most).
  int64_t Stop() { return AskToClose() ? Wait(std::chrono::seconds(30)) : -1; }
};

class AgentTree {
 public:
  // Stages the executable, its libraries, the IPC library, wardex-ipc,
  // install.cfg and the texts; no module and no Console yet. The executable
  // is staged as |executable_name|.
  explicit AgentTree(std::string executable_name = kAgentExecutable);
  // The tree an installer made in |app_dir|, used as installed: nothing is
  // staged or changed there; the log is the test's.
  struct Installed {
    std::string app_dir;
  };
  explicit AgentTree(const Installed& installed);
  AgentTree(const AgentTree&) = delete;
  AgentTree& operator=(const AgentTree&) = delete;

  // Stages module |name| with |config| (key=value lines, see fixtures/test_module/test_module.cc).
  void AddModule(const std::string& name, const std::string& config = "");
  // Stages the Console with |config| (see fixtures/test_console/test_console.cc).
  void AddConsole(const std::string& config = "");
  // Stages the Console and the modules the frame loads itself: HandsetLink,
  // Wardex, SnapCheck with the quick-check view, and Turbo with |turbo_config|.
  void AddFrameModules(const std::string& turbo_config = "flags=32\n");
  // Stages the real Console module (and on Linux wardex-console) instead.
  void AddDesktopConsole();
  // Stages the real Console module with the Console tests' fake process
  // (tests/console/fake_console.cc) as wardex-console, as on a desktop;
  // |settings| are its FAKE_CONSOLE_* settings without the prefix
  // ("NEWS=ignore"). What it was shown is in FakeConsoleRecord().
  void AddFakeDesktopConsole(const std::vector<std::string>& settings = {});
  std::vector<std::string> FakeConsoleRecord() const;
  // Changes the behaviour of a staged module or of the Console ("console")
  // while the agent runs; each reads its file anew where test_module.cc and
  // test_console.cc say so.
  void ConfigureFixture(const std::string& name, const std::string& config);
  void RemoveIpcLibrary();
  // Adds lines to install.cfg ("[Section]" lines included).
  void AppendInstallConfig(const std::string& lines);
  // Replaces |from| by |to| in install.cfg, which the agent reads anew at every use.
  void ReplaceInInstallConfig(const std::string& from, const std::string& to);

  // The test shell of agents started from now on refuses their first |count|
  // icon adds, those of the creation sequence included.
  void RefuseShellAdds(int count);

  // Starts agents from now on in this test program's own network namespace
  // instead of a new one: for a program whose main already moved into a
  // private namespace and whose local servers the agent must reach.
  void ShareTestNetwork() { share_test_network_ = true; }

  // Starts agents from now on as the unprivileged user nobody: the XDG and
  // test folders become that user's, the installation and the machine root
  // stay root's, as a package installs them. Only for tests run as root.
  void RunAsNobody();

  // Starts the agent with |arguments| in the private network namespace.
  std::unique_ptr<AgentProcess> Start(const std::vector<std::string>& arguments = {});
  // Starts the agent with |arguments| and waits (15 s at most) for its end,
  // as a second start or a switch ends: its exit status, or -1.
  int64_t Run(const std::vector<std::string>& arguments = {});
  // Starts the agent and waits until its creation sequence is done.
  std::unique_ptr<AgentProcess> StartAndWait();
  // Waits until the log holds a line with |text| (after |from_line|).
  bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout, size_t from_line = 0);
  bool WaitForJournal(const std::string& line, std::chrono::milliseconds timeout);
  // Waits until the shell log holds |count| lines with |needle|.
  bool WaitForShellLog(const std::string& needle, size_t count = 1) const;

  // The log's lines, the rotated generations first, and their texts alone.
  std::vector<LogLine> LogLines() const;
  std::vector<std::string> LogTexts() const;
  std::vector<std::string> Journal() const;
  std::vector<std::string> ShellLog() const;
  // The tracking library's events, one tab-separated line each.
  std::vector<std::string> TrackedEvents() const;

  // Sends |message| through the tree's wardex-ipc, which finds the channel
  // and the IPC library as an installed one does; the reply text, or
  // "ERROR: ..." with the tool's message when it was not answered.
  // The time-out is generous: on a loaded machine the tool itself starts slowly.
  std::string Send(const std::string& message, uint32_t timeout_ms = 15000) const;
  // Appends one command line to the test shell's control file.
  bool ShellCommand(const std::string& command) const;
  // Chooses |command| ("0x8018") from the tray menu, which opens for it.
  bool ChooseFromMenu(const std::string& command) const;
  // A value of the product key as the agent stores it: a uint32_t as
  // REG_DWORD, an int64_t (a time) as REG_BINARY; nullopt when absent.
  template <typename T>
  std::optional<T> ReadProduct(const std::string& name) const {
    T value{};
    return ReadProductValue(name, &value, sizeof(value)) ? std::optional<T>(value) : std::nullopt;
  }
  template <typename T>
  bool WriteProduct(const std::string& name, T value) const {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    return WriteProductValue(name, &value, sizeof(value));
  }
  // Clicks the icon with |event| and returns the MENU line of the menu that
  // opened (empty when none did within the wait).
  std::string OpenMenu(const std::string& event = "rbuttonup") const;

  // What the agents started from this tree wrote to their standard output
  // and error.
  std::string AgentOutput() const;
  // That output and the end of the log, for failure messages.
  std::string Diagnostics() const;

  const std::string& app_dir() const { return app_dir_; }
  const std::string& test_dir() const { return test_dir_; }
  const ScopedTestRoot& root() const { return root_; }
  std::string log_path() const { return test_dir_ + "/wardex.log"; }

 private:
  // Exactly |size| bytes of the product key's value |name|.
  static bool ReadProductValue(const std::string& name, void* value, uint32_t size);
  // Writes 4 bytes as REG_DWORD, others as REG_BINARY, making the key when missing.
  static bool WriteProductValue(const std::string& name, const void* value, uint32_t size);
  // The real Console module with |program_file| as its wardex-console.
  void StageDesktopConsole(const std::string& program_file);
  // Copies the file |from| to |to|, making its folder.
  static void StageFile(const std::string& from, const std::string& to);
  // Copies the program |from| to |to| so that it may be started there.
  static void StageProgram(const std::string& from, const std::string& to);
  // This system's part of the tree: the trust anchor.
  void StagePlatform();
  // The program and its first arguments that start the agent |program| with
  // the tree's network and user.
  std::vector<std::string> Launch(const std::string& program) const;
  // The tracking library's log in the user's state folder.
  static std::string TrackingLog();

  // Its environment is the agents' from their start on, until the tree goes.
  ScopedTestRoot root_;
  std::string executable_name_;
  std::string app_dir_;
  std::string test_dir_;
  bool share_test_network_ = false;
  bool as_nobody_ = false;
  int starts_ = 0;
};

// A test of the real agent, skipped where no private network namespace can be made.
class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // The tree goes before the fixture's other members, whose environment it saw.
  void TearDown() override { tree_.reset(); }
  // A fresh tree in tree_; the old one's folders and environment go first.
  AgentTree& NewTree();
  std::unique_ptr<AgentTree> tree_;
};

// An AgentTest with a fresh tree in tree_ at each test's start.
class AgentTreeTest : public AgentTest {
 protected:
  void SetUp() override;
};

// |needles| appear in |lines| in this order (each a substring of a later line
// than the one before); the failure names the first missing one.
::testing::AssertionResult ContainsInOrder(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& needles);
size_t CountContaining(const std::vector<std::string>& lines, const std::string& needle);
// Expects each needle of |counts| in as many of |lines| as it says.
void ExpectCounts(const std::vector<std::string>& lines,
                  std::initializer_list<std::pair<std::string, size_t>> counts);

}  // namespace wardex::test
