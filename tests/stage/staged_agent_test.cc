// The agent run from the staged installation with the demo modules and
// Console: what the demo shows a newcomer. The agent runs in a private
// network namespace, so nothing it does can leave the computer (on Windows
// the tests' own, on Linux one of its own).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "integration/agent_harness.h"
#include "stage_test_env.h"

#ifdef _WIN32
#include "support/wine_desktop_win.h"
#else
#include "support/virtual_display.h"
#endif

namespace wardex::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kQuickCheck[] = R"({"ModuleRequest":13})";
constexpr char kQuickCheckReply[] = R"([{"ModuleIdentificator":"","ModuleRequest":13}])";

// The staged tree used as installed, with the demo's machine root.
class StagedAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WARDEX_STAGE_HAS_AGENT) GTEST_SKIP() << "the wardex executable is not built";
    const std::string folder = tree_.root().path();
#ifdef _WIN32
    ASSERT_TRUE(TrustRootInWinePrefix(ModuleTestEnv::PkiPath("root-ca.pem")));
    env_.Set("TMP", SystemPath(folder + "/tmp"));
#else
    if (std::string reason; !CanUnshareNetwork(&reason)) GTEST_SKIP() << reason;
    fs::copy(StagedRoot(), tree_.root().root(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    env_.Set("HOME", folder);
    env_.Set("TMPDIR", folder + "/tmp");
#endif
    env_.Set("WARDEX_SHELL", "headless");
    ASSERT_TRUE(WriteFile(folder + "/tmp/a", "12345"));
  }

  // The texts logged that start with |prefix|.
  std::vector<std::string> Logged(const std::string& prefix) const {
    std::vector<std::string> texts = tree_.LogTexts();
    std::erase_if(texts, [&](const std::string& text) { return !text.starts_with(prefix); });
    return texts;
  }

  AgentTree tree_{AgentTree::Installed{StagedApp()}};
  ScopedEnvironment env_;  // restored before the tree's own
};

TEST_F(StagedAgentTest, StartsAnswersRunsTheDemoModulesAndStops) {
  auto agent = tree_.StartAndWait();
  ASSERT_TRUE(agent) << tree_.Diagnostics();
  EXPECT_EQ(tree_.Send(kPing), kPingReply);
  // The texts and product names of the staged files reach the tray.
  EXPECT_EQ(Logged("SHELL: icon 130 added"),
            std::vector<std::string>{
                "SHELL: icon 130 added: icon 128, tip \"Wardex - Corvane Brisko\", visible"});
  // Every staged module and the Console loaded (the news check, which has no
  // service here, may log its own line).
  EXPECT_EQ(Logged("ERROR: "), std::vector<std::string>{});

  EXPECT_EQ(tree_.Send(kQuickCheck), kQuickCheckReply);
  // The view checks, then describes itself to the Console.
  EXPECT_TRUE(tree_.WaitForLog("CONSOLE: module view", 10s)) << tree_.Diagnostics();
  EXPECT_EQ(Logged("SnapCheckModule: quick check: 1 file, 5 B in ").size(), 1u);
  EXPECT_EQ(Logged("CONSOLE: module view").size(), 1u);

  // What each demo module does is the demo modules' test; here it answers
  // through the agent.
  const std::string turbo =
      tree_.Send(R"({"ModuleRequest":4,"ModuleIdentificator":"TurboModule"})");
  EXPECT_NE(turbo.find(R"("SwitchState":)"), std::string::npos) << turbo;

  EXPECT_EQ(agent->Stop(), 0);
  EXPECT_FALSE(Logged("TRAY ### Closing...").empty());
  EXPECT_EQ(Logged("HandsetLinkModule: monitoring"),
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
  auto agent = tree_.StartAndWait();
  ASSERT_TRUE(agent) << tree_.Diagnostics();
  EXPECT_EQ(tree_.Send(kQuickCheck), kQuickCheckReply);
  ASSERT_TRUE(tree_.WaitForLog("CONSOLE: module view", 30s)) << tree_.Diagnostics();
  const std::string shown = Logged("CONSOLE: module view").front();
  EXPECT_TRUE(shown.ends_with("\"Temporary files\" with 5 rows sent to the Console")) << shown;
  EXPECT_TRUE(VirtualDisplay::TypeInto(".* - Quick check", "Return")) << tree_.Diagnostics();
  // The button's line comes first, then the check and the new description.
  WaitFor([&] { return Logged("CONSOLE: module view").size() >= 2; }, 30s);
  EXPECT_EQ(Logged("CONSOLE: button 1 of module view").size(), 1u) << tree_.Diagnostics();
  EXPECT_EQ(Logged("SnapCheckModule: quick check: 1 file, 5 B in ").size(), 2u);
  EXPECT_EQ(Logged("CONSOLE: module view").size(), 2u);

  // Without a tray, the window's menu reaches the frame: the menu button sits
  // left of the module's buttons, and its Settings entry (Up from the first
  // entry wraps to Close, then Info, then Settings) opens the settings window,
  // where the news are switched off and saved (the default button) into the
  // product key.
  EXPECT_TRUE(VirtualDisplay::TypeInto(".* - Quick check", "shift+Tab Return Up Up Up Return"));
  EXPECT_TRUE(tree_.WaitForLog("CONSOLE: menu command 0x8015 chosen in the Console", 30s))
      << tree_.Diagnostics();
  EXPECT_TRUE(
      VirtualDisplay::TypeInto(".* - Settings", "shift+Tab shift+Tab space Tab Tab Return"));
  EXPECT_TRUE(
      tree_.WaitForLog("CONSOLE: settings saved (language en_II, start at logon 0, news 0)", 30s))
      << tree_.Diagnostics();
  EXPECT_EQ(agent->Stop(), 0);
}
#endif

}  // namespace
}  // namespace wardex::test
