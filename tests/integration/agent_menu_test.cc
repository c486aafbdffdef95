// The real agent's tray menu: its refresh before it opens, and the
// quick-check view from the menu and from the pipe.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "integration/agent_harness.h"
#include "platform/named_objects.h"
#include "wardex/kernel_object_names.h"

namespace wardex::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr milliseconds kEventWait{10000};

using AgentMenuTest = AgentTreeTest;

// The refresh before the menu opens sets the entries by position, also when
// other entries are gone; the last notification's entry follows its event.
TEST_F(AgentMenuTest, RefreshFindsTheEntriesWhenOthersAreGoneAndReadsTheLastNotification) {
  struct Case {
    bool wardex;
    bool snapcheck;
    const char* turbo;
    bool notified;        // the event is set after the start
    const char* entries;  // around the Turbo entry, after the refresh
  };
  constexpr char kSwitchOn[] = "flags=32\nswitch_state=1\n";
  const Case cases[] = {
      // Without SnapCheck, position 3 is the settings entry.
      {true, false, kSwitchOn, false,
       "0x8019g\"Last notification\"|0x8018\"Turbo off\"|0x8015\"Settings\"|-|"},
      // Without Wardex, position 3 is the separator.
      {false, true, kSwitchOn, false,
       "0x8017\"Quick check\"|0x8018\"Turbo off\"|-|0x8016\"Info\"|"},
      // A Turbo module that is no switch leaves the entry as it is.
      {true, true, "flags=0\nswitch_state=1\n", true,
       "|0x8019\"Last notification\"|0x8018\"Turbo on\"|"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.entries);
    NewTree();
    tree_->AddConsole();
    if (test.wardex) tree_->AddModule("WardexModule");
    if (test.snapcheck)
      tree_->AddModule("SnapCheckModule", "kind=snapcheck\nmenu_text=Quick check\n");
    tree_->AddModule("TurboModule", test.turbo);
    // The event is there in each case: its state alone greys the entry.
    auto event = platform::NamedEvent::Create(kLastNotificationEventName, false);
    ASSERT_TRUE(event);
    auto agent = tree_->StartAndWait();
    ASSERT_TRUE(agent);
    ASSERT_TRUE(!test.notified || event->Set());
    const std::string menu = tree_->OpenMenu();
    EXPECT_NE(menu.find(test.entries), std::string::npos) << menu;
  }
}

// The index of the first line with |needle| in |lines|, or lines.size().
size_t IndexOf(const std::vector<std::string>& lines, const std::string& needle) {
  size_t index = 0;
  while (index < lines.size() && lines[index].find(needle) == std::string::npos) ++index;
  return index;
}

TEST_F(AgentMenuTest, CachedTurboOutlivesThePipeRequestInsideItAndLoadsAgainAfter) {
  // The frame's own Turbo module is no switch, so the command takes the
  // cached one; the instances made later are switches that run tasks.
  tree_->AddConsole();
  tree_->AddModule("TurboModule", "flags=0\n");
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);
  // The task runs until the test lets it end, so the command surely comes
  // while the pipe thread is inside the module.
  tree_->ConfigureFixture("TurboModule",
                          "flags=36\nswitch_state=2\ntask_waits_for=release\nresult_text=done\n");
  std::string task_reply;
  std::thread task([&] {
    task_reply = tree_->Send(R"({"ModuleRequest":1,"ModuleIdentificator":"TurboModule"})", 40000);
  });
  const bool started = tree_->WaitForJournal("TurboModule start-task", kEventWait);
  if (started) {
    EXPECT_TRUE(tree_->ChooseFromMenu("0x8018"));
    EXPECT_TRUE(tree_->WaitForJournal("TurboModule set-switch 1 2", kEventWait));
  }
  std::ofstream(tree_->test_dir() + "/release") << "go";
  task.join();
  ASSERT_TRUE(started);
  EXPECT_EQ(task_reply,
            R"([{"ModuleIdentificator":"TurboModule","ModuleRequest":1,"ResultText":"done"}])");
  ASSERT_TRUE(tree_->WaitForJournal("TurboModule destroy", kEventWait));
  const std::vector<std::string> journal = tree_->Journal();
  const size_t switched = IndexOf(journal, "TurboModule set-switch 1 2");
  const size_t done = IndexOf(journal, "TurboModule task-done");
  ASSERT_LT(switched, done) << "the command came after the task";
  // The instance the pipe thread was in went only after the thread left it.
  EXPECT_LT(done, IndexOf(journal, "TurboModule destroy"));

  // The next request loads the module again, and so does the next command.
  EXPECT_EQ(tree_->Send(R"({"ModuleRequest":4,"ModuleIdentificator":"TurboModule"})"),
            R"([{"ModuleIdentificator":"TurboModule","ModuleRequest":4,"ResultText":"done",)"
            R"("SwitchState":2}])");
  ASSERT_TRUE(tree_->ChooseFromMenu("0x8018"));
  WaitFor([&] { return CountContaining(tree_->Journal(), "set-switch 1 2") >= 2; });
  EXPECT_EQ(CountContaining(tree_->Journal(), "TurboModule set-switch 1 2"), 2u);
  EXPECT_EQ(CountContaining(tree_->Journal(), "TurboModule create"), 3u);
  EXPECT_TRUE(agent->Running());
}

#ifndef _WIN32  // The Console's windows on Windows are the module's own: no process to fake.
// A module shows its own view in the Console and is unloaded after the
// Turbo command (the frame holds no Turbo module, so the cached one goes); a
// button then pressed in the still-open window must not reach the module.
TEST_F(AgentMenuTest, AViewWithdrawnWithItsModuleIgnoresLaterButtons) {
  tree_->AddFakeDesktopConsole();
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);
  tree_->AddModule("TurboModule", "flags=32\nshows_view=1\n");
  ASSERT_TRUE(tree_->ChooseFromMenu("0x8018"));
  ASSERT_TRUE(tree_->WaitForJournal("TurboModule destroy", kEventWait)) << tree_->Diagnostics();
  ASSERT_EQ(CountContaining(tree_->Journal(), "TurboModule describe-view"), 1u);
  const size_t before = tree_->LogTexts().size();
  // The fake Console presses the last view's button when a dialog tells it so.
  EXPECT_NE(tree_
                ->Send(R"({"ModuleRequest":11,"MessageHeader":"press-view","Message":"-",)"
                       R"("Buttons":[{"BTTX":"OK","BTID":1,"BTTY":1}]})")
                .find(R"("BTID":1)"),
            std::string::npos);
  EXPECT_TRUE(tree_->WaitForLog("CONSOLE: button 1 of module view ", kEventWait, before))
      << tree_->Diagnostics();
  EXPECT_EQ(CountContaining(tree_->LogTexts(), "ignored: the view was withdrawn"), 1u);
  EXPECT_EQ(CountContaining(tree_->Journal(), "view-button"), 0u);
  // The window keeps its content with the button greyed.
  auto greyed = [&] { return CountContaining(tree_->FakeConsoleRecord(), "view 1 Quick check 0"); };
  WaitFor([&] { return greyed() > 0; });
  EXPECT_EQ(greyed(), 1u) << ::testing::PrintToString(tree_->FakeConsoleRecord());
  EXPECT_EQ(agent->Stop(), 0) << tree_->Diagnostics();
}

// The settings window's choices, as the administrator and as a user who may
// write neither install.cfg nor the machine's hive: each is saved on its own
// where it may be, the rest stays whole as it was, and the user is told
// which could not be saved, where and why.
TEST_F(AgentMenuTest, SettingsAreSavedWhereTheUserMayAndTheRestIsReported) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  for (bool as_root : {true, false}) {
    SCOPED_TRACE(as_root ? "root" : "nobody");
    NewTree();
    tree_->AddModule("WardexModule");
    tree_->AddFakeDesktopConsole({"SETTINGS=de,1,0"});
    ASSERT_TRUE(tree_->WriteProduct<uint32_t>("NEWSFEED_OFF", 0));
    const std::string config = ReadFile(tree_->app_dir() + "/install.cfg");
    if (!as_root) tree_->RunAsNobody();
    auto agent = tree_->StartAndWait();
    ASSERT_TRUE(agent);
    ASSERT_TRUE(tree_->ChooseFromMenu("0x8015"));
    const std::string saved = as_root ? "saved" : "not all saved";
    ASSERT_TRUE(tree_->WaitForLog(
        "CONSOLE: settings " + saved + " (language de, start at logon 1, news 0)", kEventWait))
        << tree_->Diagnostics();

    const std::vector<std::string> log = tree_->LogTexts();
    const std::string autostart = as_root ? tree_->root().root() + "/etc/xdg/autostart"
                                          : tree_->root().config_home() + "/autostart";
    EXPECT_EQ(std::distance(fs::directory_iterator(autostart), {}), 1);
    if (as_root) {
      EXPECT_NE(ReadFile(tree_->app_dir() + "/install.cfg").find("Language=de\n"),
                std::string::npos);
      EXPECT_EQ(tree_->ReadProduct<uint32_t>("NEWSFEED_OFF"), 1u);
      continue;
    }
    EXPECT_EQ(CountContaining(log, "CONSOLE: setting Language not saved in " + tree_->app_dir() +
                                       "/install.cfg: Access is denied. (5)"),
              1u);
    EXPECT_EQ(CountContaining(log,
                              "CONSOLE: setting Show the daily news not saved in "
                              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\WardexTest: "
                              "Access is denied. (5)"),
              1u);
    EXPECT_EQ(ReadFile(tree_->app_dir() + "/install.cfg"), config);
    EXPECT_EQ(tree_->ReadProduct<uint32_t>("NEWSFEED_OFF"), 0u);
    auto told = [&] {
      return CountContaining(tree_->FakeConsoleRecord(), "dialog Settings not saved ");
    };
    WaitFor([&] { return told() > 0; });
    EXPECT_EQ(told(), 1u) << ::testing::PrintToString(tree_->FakeConsoleRecord());
  }
}
#endif

TEST_F(AgentMenuTest, QuickCheckFromTheMenuAndFromThePipeAreLabelledBySource) {
  tree_->AddFrameModules("flags=32\n");
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);

  ASSERT_TRUE(tree_->ChooseFromMenu("0x8017"));
  ASSERT_TRUE(tree_->WaitForJournal("console show-module-view view 1", kEventWait));

  // Through the pipe, the registry's "not given" (-1) for the wait before the
  // start labels the request the Wardex module's, another value the
  // desktop's (without a value: the start test's quick-check switch case).
  size_t shown = 1;
  for (const uint32_t wait_to_start : {0xFFFFFFFFu, 5u}) {
    ASSERT_TRUE(tree_->WriteProduct<uint32_t>("SC_WAITTOSTART", wait_to_start));
    EXPECT_EQ(tree_->Send(R"({"ModuleRequest":13})"),
              R"([{"ModuleIdentificator":"","ModuleRequest":13}])");
    // The view is shown on the agent's own thread after the reply: wait for
    // it before the registry value changes again.
    ++shown;
    WaitFor([&] { return CountContaining(tree_->Journal(), "show-module-view") >= shown; });
  }
  EXPECT_EQ(CountContaining(tree_->Journal(), "console show-module-view view 1"), 3u);
  const std::vector<std::string> events = tree_->TrackedEvents();
  EXPECT_EQ(CountContaining(events, "\tSHOW_SNAPCHECK\t"), 3u);
  EXPECT_TRUE(
      ContainsInOrder(events, {"\tSHOW_SNAPCHECK\tFROM_MENU\t", "\tSHOW_SNAPCHECK\tFROM_WARDEX\t",
                               "\tSHOW_SNAPCHECK\tFROM_DESKTOP\t"}));
}

}  // namespace
}  // namespace wardex::test
