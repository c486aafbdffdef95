// The agent run from the staged installation with the demo modules and
// Console: what the demo shows a newcomer. The agent runs in a private
// network namespace, so nothing it does can leave the computer (on Windows
// the tests' own, on Linux one of its own).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "integration/agent_harness.h"
#include "stage_test_env.h"

#ifndef _WIN32
#include "support/virtual_display.h"
#endif

namespace wardex::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Starts the staged agent; on Linux in a private network namespace (env finds
// unshare in PATH, and unshare replaces itself with the agent, so the pid is
// the agent's).
std::unique_ptr<AgentProcess> StartAgent() {
#ifdef _WIN32
  return std::make_unique<AgentProcess>(StagedApp() + "/Wardex.exe", std::vector<std::string>{});
#else
  return std::make_unique<AgentProcess>(
      "/usr/bin/env", std::vector<std::string>{"unshare", "-n", "--", StagedApp() + "/wardex"});
#endif
}

class StagedAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WARDEX_STAGE_HAS_AGENT) GTEST_SKIP() << "the wardex executable is not built";
#ifdef _WIN32
    env_.env().Set("TMP", SystemPath(env_.root().path() + "/tmp"));
#else
    if (std::string reason; !CanUnshareNetwork(&reason)) GTEST_SKIP() << reason;
    // The demo's machine root: the staged anchors and the common folder.
    fs::copy(StagedRoot(), env_.root().root(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    env_.env().Set("HOME", env_.root().path());
    env_.env().Set("TMPDIR", env_.root().path() + "/tmp");
#endif
    env_.env().Set("WARDEX_SHELL", "headless");
    ASSERT_TRUE(WriteFile(env_.root().path() + "/tmp/a", "12345"));
  }

  // The staged wardex-ipc's reply to |message| (lines end in "\n"), or empty
  // when none came.
  std::string Send(const std::string& message) const {
    const std::string file = env_.root().path() + "/reply";
    ChildProgram tool(StagedApp() + "/wardex-ipc" + kProgramSuffix, {"send", message}, file,
                      file + ".errors");
    std::string reply = tool.Wait(15000) == 0 ? ReadFile(file) : std::string();
    std::erase(reply, '\r');
    return reply;
  }

  // Polls the log until a line starts with |prefix|.
  bool WaitForLog(const std::string& prefix, std::chrono::milliseconds limit) {
    return WaitFor([&] { return !env_.LogTexts(prefix).empty(); }, limit);
  }
  // The reply to |message| once the agent answers, within 10 s.
  std::string SendWhenUp(const std::string& message) const {
    std::string reply;
    WaitFor([&] { return !(reply = Send(message)).empty(); }, 10s);
    return reply;
  }

  // The agent's log, for a failure's message.
  std::string LogDump() const { return "log: " + ::testing::PrintToString(env_.LogTexts("")); }

  StageTestEnv env_;
};

TEST_F(StagedAgentTest, StartsAnswersRunsTheDemoModulesAndStops) {
  auto agent = StartAgent();
  const std::string reply = SendWhenUp("{\"ModuleRequest\":5}");
  EXPECT_EQ(reply, "[{\"ModuleIdentificator\":\"\",\"ModuleRequest\":5}]\n") << LogDump();
  // The texts and product names of the staged files reach the tray.
  EXPECT_EQ(env_.LogTexts("SHELL: icon 130 added"),
            std::vector<std::string>{
                "SHELL: icon 130 added: icon 128, tip \"Wardex - Corvane Brisko\", visible"});
  // Every staged module and the Console loaded (the news check, which has no
  // service here, may log its own line).
  EXPECT_EQ(env_.LogTexts("ERROR: "), std::vector<std::string>{});

  EXPECT_FALSE(Send("{\"ModuleRequest\":13}").empty());
  // The view checks, then describes itself to the Console.
  EXPECT_TRUE(WaitForLog("CONSOLE: module view", 10s)) << LogDump();
  EXPECT_EQ(env_.LogTexts("SnapCheckModule: quick check: 1 file, 5 B in ").size(), 1u);
  EXPECT_EQ(env_.LogTexts("CONSOLE: module view").size(), 1u);

  // What each demo module does is the demo modules' test; here it answers
  // through the agent.
  const std::string turbo = Send(R"({"ModuleRequest":4,"ModuleIdentificator":"TurboModule"})");
  EXPECT_NE(turbo.find(R"("SwitchState":)"), std::string::npos) << turbo;

  EXPECT_EQ(agent->Stop(), 0);
  EXPECT_FALSE(env_.LogTexts("TRAY ### Closing...").empty());
  EXPECT_EQ(env_.LogTexts("HandsetLinkModule: monitoring"),
            (std::vector<std::string>{"HandsetLinkModule: monitoring started",
                                      "HandsetLinkModule: monitoring stopped"}));
}

#ifndef _WIN32
// On a display, the quick-check request opens the Console's window with what
// the SnapCheck module found; its default button runs the check again in the
// module, which then describes itself anew.
TEST_F(StagedAgentTest, TheQuickCheckViewShowsSnapCheckAndItsButtonChecksAgain) {
  VirtualDisplay display;
  ASSERT_TRUE(display.ok()) << display.error();
  display.ExportForGtk();
  auto agent = StartAgent();
  EXPECT_FALSE(SendWhenUp("{\"ModuleRequest\":13}").empty()) << LogDump();
  ASSERT_TRUE(WaitForLog("CONSOLE: module view", 30s)) << LogDump();
  const std::string shown = env_.LogTexts("CONSOLE: module view").front();
  EXPECT_TRUE(shown.ends_with("\"Temporary files\" with 5 rows sent to the Console")) << shown;
  EXPECT_TRUE(VirtualDisplay::TypeInto(".* - Quick check", "Return")) << LogDump();
  // The button's line comes first, then the check and the new description.
  WaitFor([&] { return env_.LogTexts("CONSOLE: module view").size() >= 2; }, 30s);
  EXPECT_EQ(env_.LogTexts("CONSOLE: button 1 of module view").size(), 1u) << LogDump();
  EXPECT_EQ(env_.LogTexts("SnapCheckModule: quick check: 1 file, 5 B in ").size(), 2u);
  EXPECT_EQ(env_.LogTexts("CONSOLE: module view").size(), 2u);

  // Without a tray, the window's menu reaches the frame: the menu button sits
  // left of the module's buttons, and its Settings entry (Up from the first
  // entry wraps to Close, then Info, then Settings) opens the settings window,
  // where the news are switched off and saved (the default button) into the
  // product key.
  EXPECT_TRUE(VirtualDisplay::TypeInto(".* - Quick check", "shift+Tab Return Up Up Up Return"));
  EXPECT_TRUE(WaitForLog("CONSOLE: menu command 0x8015 chosen in the Console", 30s)) << LogDump();
  EXPECT_TRUE(
      VirtualDisplay::TypeInto(".* - Settings", "shift+Tab shift+Tab space Tab Tab Return"));
  EXPECT_TRUE(WaitForLog("CONSOLE: settings saved (language en_II, start at logon 0, news 0)", 30s))
      << LogDump();
  EXPECT_EQ(agent->Stop(), 0);
}
#endif

}  // namespace
}  // namespace wardex::test
