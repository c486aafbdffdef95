// The real agent's pipe message handling, end to end through wardex-ipc: the
// exact reply of each kind, the flag tests, notifications, message dialogs,
// the busy icon; and the tray commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "integration/agent_harness.h"
#include "platform/named_objects.h"
#include "wardex/kernel_object_names.h"

namespace wardex::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kEventWait{10000};

using AgentPipeTest = AgentTreeTest;

TEST_F(AgentPipeTest, ModuleRequestsAnswerWithTheModulesResultsWhenTheFlagsAllow) {
  tree_->AddConsole();
  tree_->AddModule("A", "flags=4\n");
  tree_->AddModule("B", "flags=0\nresult_text=never read\n");
  tree_->AddModule("T",
                   "flags=4\nresult_level=0.5\nresult_text=done\nresult_description=desc\n"
                   "result_details=det\nsub_results=s1;s2\n");
  tree_->AddModule("R", "flags=20\nresult_text=refused\n");
  tree_->AddModule("S", "flags=32\nswitch_state=0\nresult_text=switched\n");
  tree_->AddModule("N", "flags=4\n");
  tree_->AddModule("M", "flags=4\n");
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);

  // Each request names its kind and module (with |asked| added); the reply
  // is the same pair with |answered| added.
  struct Case {
    int kind;
    const char* module;
    const char* asked;
    const char* answered;
  };
  const std::string kResults =
      R"(,"ResultDescription":"desc","ResultDetails":"det","ResultLevel":0.500000,)"
      R"("ResultText":"done","SubResults":"s1;s2")";
  const Case cases[] = {
      {6, "A", "", R"(,"ResultLevel":100.000000)"},
      {6, "B", "", ""},
      {1, "T", R"(,"Check":7)", kResults.c_str()},
      {2, "T", "", kResults.c_str()},
      {2, "R", "", ""},
      {1, "B", "", ""},
      {3, "S", R"(,"Switch":1,"SwitchParam":4)", R"(,"ResultText":"switched")"},
      {3, "S", R"(,"Switch":1,"SwitchParam":4)", R"(,"ResultText":"switched")"},
      {4, "S", "", R"(,"ResultText":"switched","SwitchState":1)"},
      {4, "A", "", R"(,"SwitchState":0)"},
      {9, "N", "", ""},
      {12, "M", "", ""},
      // A module that does not load (a name outside the folder, a null
      // instance: the module cache's cases) is answered as a missing one.
      {6, "Missing", "", ""},
      {5, "", "", ""},
  };
  for (const Case& test : cases) {
    const std::string kind = std::to_string(test.kind), module = test.module;
    const std::string request =
        R"({"ModuleRequest":)" + kind +
        (module.empty() ? "" : R"(,"ModuleIdentificator":")" + module + "\"") + test.asked + "}";
    EXPECT_EQ(tree_->Send(request), R"([{"ModuleIdentificator":")" + module +
                                        R"(","ModuleRequest":)" + kind + test.answered + "}]")
        << request;
  }

  // Only the requests that passed their flag test reached the modules, and
  // the switch was set once (the second request found it set). Kinds 9 and
  // 12 loaded their module into the cache (that a cached one is not made
  // again is the module cache test's).
  ExpectCounts(tree_->Journal(), {{"A stop-task 1", 1},
                                  {"T start-task 7", 1},
                                  {"T run-task -1", 1},
                                  {"S set-console-view console", 2},
                                  {"S set-switch 1 4", 1},
                                  {"B stop-task", 0},
                                  {"B start-task", 0},
                                  {"R run-task", 0},
                                  {"N stop-task", 0},
                                  {"N create", 1},
                                  {"M create", 1}});

  // At shutdown every cached task module stops its task, after the frame's
  // own (A's); R's flags 20 include 0x04.
  ASSERT_EQ(agent->Stop(), 0);
  ExpectCounts(tree_->Journal(), {{"A stop-task 1", 2},
                                  {"M stop-task 1", 1},
                                  {"N stop-task 1", 1},
                                  {"T stop-task 1", 1},
                                  {"R stop-task", 1},
                                  {"S stop-task", 0}});
}

// The icon changes are logged by the test shell as they are made, on the
// pipe's thread before the reply for the busy icon, so the log's order is
// the order of events; times come from the steady clock that the agent's
// timers use, and a late observation only lengthens a measured interval.
TEST_F(AgentPipeTest, BusyIconStaysUntilTwoSecondsAfterTheLastTaskRequest) {
  const std::string kBusy = "NIM_MODIFY ok=1 id=130 flags=0x2 msg=0x800A icon=130";
  const std::string kReset = "NIM_MODIFY ok=1 id=130 flags=0x2 msg=0x800A icon=128";
  constexpr milliseconds kGap{500};  // between the two requests
  tree_->AddModule("T", "flags=4\n");
  tree_->AddModule("R", "flags=20\n");
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);
  // A refused run request leaves the icon alone.
  EXPECT_EQ(tree_->Send(R"({"ModuleRequest":2,"ModuleIdentificator":"R"})"),
            R"([{"ModuleIdentificator":"R","ModuleRequest":2}])");
  EXPECT_EQ(CountContaining(tree_->ShellLog(), "icon=130"), 0u);

  // On a machine so loaded that the second request comes after the first
  // one's timer fired, the icon is reset twice and the run proves nothing
  // about the second request: it is tried again.
  bool second_request_in_time = false;
  for (int attempt = 0; attempt < 5 && !second_request_in_time; ++attempt) {
    SCOPED_TRACE(attempt);
    const size_t resets_before = CountContaining(tree_->ShellLog(), kReset);
    const auto first = Clock::now();
    ASSERT_EQ(tree_->Send(R"({"ModuleRequest":1,"ModuleIdentificator":"T"})").rfind("[", 0), 0u);
    std::this_thread::sleep_for(kGap);
    const auto last = Clock::now();
    ASSERT_EQ(tree_->Send(R"({"ModuleRequest":2,"ModuleIdentificator":"T"})").rfind("[", 0), 0u);
    second_request_in_time = CountContaining(tree_->ShellLog(), kReset) == resets_before;
    ASSERT_TRUE(tree_->WaitForShellLog(kReset, resets_before + (second_request_in_time ? 1 : 2)));
    const auto reset = Clock::now();
    EXPECT_GE(reset - last, milliseconds(2000));
    if (second_request_in_time) {
      EXPECT_GE(reset - first, kGap + milliseconds(2000));
    }
  }
  EXPECT_TRUE(second_request_in_time) << "every second request came after the first one's reset";
  // No further reset follows the last one.
  const size_t resets = CountContaining(tree_->ShellLog(), kReset);
  std::this_thread::sleep_for(milliseconds(2500));
  EXPECT_EQ(CountContaining(tree_->ShellLog(), kReset), resets);
}

// Without a Console they become balloons: the desktop test sees them as
// notifications with these texts and times.
// What the Console is handed: notifications, a message dialog field by
// field, and a refresh with the product name read anew.
TEST_F(AgentPipeTest, MessagesReachTheConsoleAsSentAndTheRefreshRereadsTheProductName) {
  tree_->AddConsole("dialog_answer=7\ndialog_checks=1,0\ndialog_delay_ms=200\n");
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);
  EXPECT_EQ(tree_->Send(R"({"ModuleRequest":7,"MessageHeader":"Head","Message":"Body & more"})"),
            R"([{"ModuleIdentificator":"","ModuleRequest":7}])");
  EXPECT_EQ(tree_->Send(R"({"ModuleRequest":10,"MessageHeader":"H10","Message":"M10",)"
                        R"("BtnTitle":"Open","BtnCmdLine":"/usr/bin/true --x"})"),
            R"([{"ModuleIdentificator":"","ModuleRequest":10}])");
  // The frame hands the messages on after its reply.
  ASSERT_TRUE(tree_->WaitForJournal("console show-message text=\"M10\"", kEventWait));
  EXPECT_TRUE(ContainsInOrder(tree_->Journal(),
                              {"console show-message text=\"Body & more\" title=\"Head\" "
                               "seconds=5 button=\"\" command=\"\"",
                               "console show-message text=\"M10\" title=\"H10\" seconds=30 "
                               "button=\"Open\" command=\"/usr/bin/true --x\""}));
  EXPECT_EQ(CountContaining(tree_->ShellLog(), "flags=0x10 "), 0u);  // no balloon

  const auto start = Clock::now();
  const std::string reply =
      tree_->Send(R"({"ModuleRequest":11,"MessageHeader":"Update","Message":"Install now?",)"
                  R"("CaptionStyle":"cap","MessageStyle":"msg","ShowTimeInMS":4294967297,"Icon":3,)"
                  R"("Buttons":[{"BTTX":"Yes","BTID":7,"BTTY":1},{"BTTX":"No","BTID":8,"BTTY":2}],)"
                  R"("CheckBoxes":[{"CBTX":"Remember","CBID":5,"CBCH":false},)"
                  R"({"CBTX":"Tell others","CBID":6,"CBCH":true}]})");
  EXPECT_GE(Clock::now() - start, milliseconds(200));
  EXPECT_EQ(reply,
            R"([{"Buttons":[{"BTID":7,"BTTX":"","BTTY":0}],"CheckBoxes":[{"CBCH":true,"CBID":5,)"
            R"("CBTX":"Remember"},{"CBCH":false,"CBID":6,"CBTX":"Tell others"}],)"
            R"("ModuleIdentificator":"","ModuleRequest":11}])");
  // The show time is the low 32 bits of the record's value.
  EXPECT_EQ(CountContaining(tree_->Journal(),
                            "console show-dialog 0,0,4,\"\",\"\" header=\"Update\" "
                            "message=\"Install now?\" text3=\"\" caption=\"cap\" style=\"msg\" "
                            "icon=3 time=1 buttons=[Yes:7:::1][No:8:::2] "
                            "checks=[Remember:5:0][Tell others:6:1] tail=0,0,0,0"),
            1u);

  tree_->ReplaceInInstallConfig("ProductName=Brisko & Co", "ProductName=Kalt & Warm&Co");
  EXPECT_EQ(tree_->Send(R"({"ModuleRequest":8})"),
            R"([{"ModuleIdentificator":"","ModuleRequest":8}])");
  EXPECT_EQ(CountContaining(tree_->Journal(), "console refresh"), 1u);
  const std::string menu = tree_->OpenMenu();
  EXPECT_NE(menu.find("default=0 items=0x8010\"Start Kalt && Warm&Co\"|"), std::string::npos)
      << menu;
}

// Without a Console, with one that never answers and with one that answers
// after the bound, the wait ends at the bound with no button; a late answer
// must not reach the ended wait, and the agent goes on answering. (Asked to
// close, an agent ends the wait at once with the same reply; its log shows it.)
TEST_F(AgentPipeTest, MessageDialogWithoutAnswerEndsAtTheConfiguredBound) {
  for (const char* console :
       {"", "dialog_answer=never\n", "dialog_answer=3\ndialog_delay_ms=1500\n"}) {
    SCOPED_TRACE(*console != 0 ? console : "no Console");
    NewTree();
    if (*console != 0) tree_->AddConsole(console);
    tree_->AppendInstallConfig("[Waits]\nMessageDialogLimitSeconds=1\n");
    auto agent = tree_->StartAndWait();
    ASSERT_TRUE(agent);
    // Through the library in this process: under Wine starting wardex-ipc
    // alone can take seconds.
    IpcClient client;
    const auto start = Clock::now();
    EXPECT_EQ(client.Send(R"({"ModuleRequest":11,"MessageHeader":"Own head","Message":"Own text",)"
                          R"("Buttons":[{"BTTX":"OK","BTID":1,"BTTY":0}]})",
                          10000),
              R"([{"ModuleIdentificator":"","ModuleRequest":11}])");
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, milliseconds(1000)) << tree_->Diagnostics();
    EXPECT_LT(waited, milliseconds(3000));
    EXPECT_EQ(CountContaining(tree_->ShellLog(),
                              "info=\"Own text\" title=\"Own head\" infoflags=0x1 timeout=30000"),
              *console != 0 ? 0u : 1u);
    std::this_thread::sleep_for(milliseconds(800));
    EXPECT_EQ(tree_->Send(kPing), kPingReply);
    EXPECT_EQ(agent->Stop(), 0);
  }
}

// The Turbo command and its menu text are the menu tests' cases.
TEST_F(AgentPipeTest, TrayCommandsActOnTheIconModulesAndConsole) {
  tree_->AddFrameModules();
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);

  ASSERT_TRUE(tree_->ChooseFromMenu("0x8019"));
  ASSERT_TRUE(tree_->WaitForJournal("WardexModule run-task 1", kEventWait));
  ASSERT_TRUE(tree_->ChooseFromMenu("0x8007"));
  ASSERT_TRUE(tree_->WaitForShellLog("NIM_MODIFY ok=1 id=130 flags=0x8"));
  EXPECT_NE(tree_->ShellLog().back().find("state=0x1 mask=0x1"), std::string::npos);
  ASSERT_TRUE(tree_->ChooseFromMenu("0x8006"));
  ASSERT_TRUE(tree_->WaitForShellLog("state=0x0 mask=0x1"));
  ASSERT_TRUE(tree_->ChooseFromMenu("0x8008"));
  ASSERT_TRUE(tree_->WaitForShellLog("NIM_ADD ok=1", 2));
  EXPECT_EQ(CountContaining(tree_->ShellLog(), "NIM_DELETE ok=1"), 1u);
  ASSERT_TRUE(tree_->ChooseFromMenu("0x800A"));
  ASSERT_TRUE(tree_->WaitForShellLog("NIM_SETFOCUS ok=1"));
}

TEST_F(AgentPipeTest, CrashTestFaultsInsideTheGuardAndTheAgentRunsOn) {
  tree_->AddConsole();
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);
  // Cancel: nothing happens.
  ASSERT_TRUE(tree_->ChooseFromMenu("0x8014"));
  ASSERT_TRUE(
      tree_->WaitForShellLog("MESSAGEBOX answer=2 type=0x121 caption=\"Question\" "
                             "text=\"Enter Exception?\""));
  ASSERT_TRUE(tree_->ShellCommand("messagebox-answer 1"));
  ASSERT_TRUE(tree_->ChooseFromMenu("0x8014"));
  ASSERT_TRUE(
      tree_->WaitForLog("Worker thread \"Exception Test\": exception 0xC0000096", kEventWait));
  EXPECT_EQ(CountContaining(tree_->LogTexts(), "\"Exception Test\""), 1u);
  EXPECT_EQ(tree_->Send(kPing), kPingReply);
  EXPECT_TRUE(agent->Running());
  EXPECT_EQ(agent->Stop(), 0);
}

TEST_F(AgentPipeTest, StartSuiteRunsTheStarterOrRetriesThroughTheDesktop) {
  tree_->AddConsole();
  // The probe leaves its working folder in "started" there.
  const std::string starter = SystemPath(tree_->app_dir() + "/briskostart.exe");
  const std::string marker = tree_->app_dir() + "/started";
  ASSERT_TRUE(CopyProgram(PROCESS_PROBE_PATH, starter));
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);

  ASSERT_TRUE(tree_->ChooseFromMenu("0x8010"));
  ASSERT_TRUE(tree_->WaitForLog("Wardex.exe: Run " + starter + ", #0", kEventWait));
  WaitFor([&] { return !ReadFile(marker).empty(); });
  EXPECT_EQ(ReadFile(marker), SystemPath(tree_->app_dir()) + "\n");
  EXPECT_EQ(CountContaining(tree_->TrackedEvents(), "\tCLICKS\tTRAY_RUNBK_BRISKO\t"), 1u);

  // While the starter runs (its semaphore exists) nothing is started.
  {
    auto starter_running = platform::NamedSemaphore::Create(kStarterSemaphoreName);
    ASSERT_TRUE(starter_running);
    ASSERT_TRUE(tree_->ChooseFromMenu("0x8010"));
    ASSERT_TRUE(tree_->WaitForLog("Wardex.exe: Starter already running", kEventWait));
  }
  // A starter that is gone: the run fails with 2, one retry through the
  // desktop a second later fails the same way.
  ASSERT_TRUE(std::filesystem::remove(starter));
  ASSERT_TRUE(tree_->ChooseFromMenu("0x8010"));
  ASSERT_TRUE(tree_->WaitForLog("Wardex.exe: Retry run " + starter + ", #2", kEventWait));
  EXPECT_EQ(CountContaining(tree_->LogTexts(), "Wardex.exe: Run " + starter + ", #2"), 1u);
  EXPECT_EQ(CountContaining(tree_->TrackedEvents(), "\tCLICKS\tTRAY_RUNBK_BRISKO\t"), 3u);

  // Every line of the command is an error-level line.
  std::vector<int> levels;
  for (const LogLine& line : tree_->LogLines()) {
    if (line.text.starts_with("Wardex.exe: ")) levels.push_back(line.level);
  }
  EXPECT_EQ(levels, std::vector<int>(4, 3));  // run, already running, run, retry
}

}  // namespace
}  // namespace wardex::test
