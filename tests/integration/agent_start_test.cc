// The real agent's start-up, single instance, creation sequence, close and
// destruction, run in an installation tree of its own.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

#include "integration/agent_harness.h"

namespace wardex::test {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kExitWait{15000};
constexpr milliseconds kEventWait{10000};

// The agent's own log lines as "level text", in order. The platform layers'
// lines ("SHELL:", "UI:") are left out, and so is the news-feed thread's,
// which runs beside the creation sequence; timings read "(Nms)".
std::vector<std::string> AgentLines(const AgentTree& tree) {
  static const std::regex kTiming(R"(\(\d+ms\)$)");
  std::vector<std::string> lines;
  for (const LogLine& line : tree.LogLines()) {
    if (line.text.starts_with("SHELL: ") || line.text.starts_with("UI: ") ||
        line.text.find("NEWSFEED") != std::string::npos) {
      continue;
    }
    lines.push_back(std::to_string(line.level) + " " +
                    std::regex_replace(line.text, kTiming, "(Nms)"));
  }
  return lines;
}

// AgentLines after the first completed creation sequence.
std::vector<std::string> LinesAfterCreation(const AgentTree& tree) {
  const std::vector<std::string> lines = AgentLines(tree);
  auto done = std::find(lines.begin(), lines.end(), "14 Tray ### On Create MainFrame done");
  return done == lines.end() ? std::vector<std::string>{}
                             : std::vector<std::string>(done + 1, lines.end());
}

using AgentStartTest = AgentTest;

TEST_F(AgentStartTest, StartSecondStartAndCloseLogExactlyTheirLinesAndLevels) {
  struct Case {
    const char* name;
    bool staged;  // the Console and the four modules, or none of them
  };
  for (const Case& test : {Case{"full tree", true}, Case{"bare tree", false}}) {
    SCOPED_TRACE(test.name);
    AgentTree tree;
    if (test.staged) tree.AddFrameModules();
    auto agent = tree.StartAndWait();
    ASSERT_TRUE(agent);
    EXPECT_EQ(tree.Send(kPing), kPingReply);
    ASSERT_EQ(tree.Run(), 0);
    const size_t journal_before = tree.Journal().size();
    ASSERT_EQ(agent->Stop(), 0);

    const std::string modules = tree.app_dir() + "/modules/";
    std::vector<std::string> expected;
    const auto add = [&](std::initializer_list<std::string> lines) {
      expected.insert(expected.end(), lines);
    };
    // A module's load by path: without the library only the load.
    const auto load = [&](const std::string& name) {
      const std::string path = SystemPath(modules + name + "/" + name + kLibrarySuffix);
      add({"14 LOAD DLL: " + path});
      if (!test.staged) add({"3 ERROR: Not found " + path});
      add({"14 LOAD DLL DONE: " + path + " (Nms)"});
      if (test.staged)
        add({"14 CREATE Instance of " + path, "14 CREATE Instance of " + path + " DONE (Nms)"});
    };
    add({"3 WorkingDir: " + SystemPath(tree.app_dir() + "/"), "14 Tray ### On Create MainFrame",
         "14 Tray ### Create TrayIcon", "14 Tray ### Create Console"});
    if (!test.staged)
      add({"3 ERROR: Not found " +
           SystemPath(modules + "consolemodule/ConsoleModule" + kLibrarySuffix)});
    add({"14 Tray ### establish pipe Server", "14 Tray ### establish pipe Server DONE"});
    load("HandsetLinkModule");
    add({"14 Tray ### etablish WardexModule monitoring"});
    load("WardexModule");
    add({test.staged ? "14 Tray ### etablish WardexModule monitoring done"
                     : "3 Tray ### error loading WardexModule",
         "14 Tray ### etablish snapcheck"});
    load("SnapCheckModule");
    add({"14 Tray ### etablish snapcheck done", "14 Tray ### etablish turbo"});
    load("TurboModule");
    add({"14 Tray ### etablish turbo done", "14 Tray ### start newsfeed check",
         "14 Tray ### On Create MainFrame Build menu", "14 Tray ### On Create MainFrame done",
         // The second start.
         "3 WorkingDir: " + SystemPath(tree.app_dir() + "/"), "6 STOP: Process already running",
         // Close; destruction and ExitInstance log nothing.
         "14 TRAY ### Closing...", "14 TRAY ### Stop HandsetLink", "14 TRAY ### Remove Icon"});
    EXPECT_EQ(AgentLines(tree), expected) << tree.Diagnostics();
    // What the frame asked of the Console and the modules: on creation, and
    // on close and destruction after the signal.
    const std::vector<std::string> journal = tree.Journal();
    if (test.staged) {
      EXPECT_TRUE(ContainsInOrder(
          journal, {"console create", "console set-owner window", "HandsetLinkModule create",
                    "HandsetLinkModule start-monitoring", "WardexModule create",
                    "WardexModule start-monitoring", "WardexModule set-console-view console",
                    "SnapCheckModule create", "TurboModule create",
                    "TurboModule set-console-view console"}));
      EXPECT_EQ(std::vector<std::string>(journal.begin() + static_cast<long>(journal_before),
                                         journal.end()),
                (std::vector<std::string>{"HandsetLinkModule stop-monitoring",  // close
                                          "WardexModule destroy", "TurboModule destroy",
                                          "console destroy", "SnapCheckModule destroy",
                                          "HandsetLinkModule stop-monitoring",
                                          "HandsetLinkModule destroy"}));
    }
    // The second start made no icon and counted no start; the next start counts.
    ExpectCounts(tree.ShellLog(), {{"NIM_DELETE ok=1", 1}, {"NIM_ADD", 1}});
#ifndef _WIN32  // WM_CLOSE is no signal
    EXPECT_EQ(CountContaining(tree.LogTexts(), "UI: signal 15, closing the main window"), 1u);
#endif
    EXPECT_EQ(tree.ReadProduct<uint32_t>("Tray_StartCount"), 1u);
    ASSERT_TRUE(tree.StartAndWait());
    EXPECT_EQ(tree.ReadProduct<uint32_t>("Tray_StartCount"), 2u);
  }
}

// The switch's spellings are the start mode's table. Without an agent the
// switch starts one that shows the view; with one it asks that one.
TEST_F(AgentStartTest, SnapCheckSwitchStartsAnAgentOrAsksTheRunningOne) {
  AgentTree tree;
  tree.AddFrameModules();
  auto agent = tree.Start({"-snapcheck"});
  ASSERT_TRUE(agent);
  ASSERT_TRUE(tree.WaitForJournal("console show-module-view view 1", kEventWait));
  const std::vector<std::string> lines = AgentLines(tree);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(
      std::vector<std::string>(lines.begin(), lines.begin() + 3),
      (std::vector<std::string>{"3 WorkingDir: " + SystemPath(tree.app_dir() + "/"),
                                "6 Wardex.exe - SNAPCHECK", "14 Tray ### On Create MainFrame"}));
  EXPECT_EQ(LinesAfterCreation(tree), std::vector<std::string>{"6 Wardex.exe ## ShowSnapCheck"});

  EXPECT_EQ(tree.Run({"/SnapCheck"}), 0);
  WaitFor([&] { return CountContaining(tree.Journal(), "console show-module-view view 1") == 2; });
  EXPECT_EQ(
      LinesAfterCreation(tree),
      (std::vector<std::string>{
          "6 Wardex.exe ## ShowSnapCheck", "3 WorkingDir: " + SystemPath(tree.app_dir() + "/"),
          "6 Wardex.exe - SNAPCHECK", "6 Wardex.exe - SNAPCHECK - already running - inform",
          "6 Wardex.exe ## ShowSnapCheck"}));
  EXPECT_EQ(CountContaining(tree.Journal(), "console create"), 1u);
  EXPECT_EQ(CountContaining(tree.TrackedEvents(), "SHOW_SNAPCHECK\tFROM_DESKTOP"), 2u);
  EXPECT_TRUE(agent->Running());
}

// Where the view is shown, its log line and count are the quick-check switch's
// and the menu test's cases.
TEST_F(AgentStartTest, QuickCheckRequestLogsItsPathAndTracksOnlyWhenItGetsFar) {
  struct Case {
    bool console;
    const char* snapcheck_config;  // null: no SnapCheck module
    bool tracked;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      // No Console.
      {false, "kind=snapcheck\n", false, {"3 Wardex.exe ## ERROR ## ShowSnapCheck - no console"}},
      // No SnapCheck module.
      {true,
       nullptr,
       false,
       {"6 Wardex.exe ## ShowSnapCheck",
        "3 Wardex.exe ## ERROR ## ShowSnapCheck - no SnapCheckModule"}},
      // A module without the quick-check view.
      {true,
       "kind=switch\n",
       true,
       {"6 Wardex.exe ## ShowSnapCheck",
        "3 Wardex # ERROR # Casting SnapcheckGUIDCtrl to ConsoleView failed."}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.lines.back());
    AgentTree tree;
    if (test.console) tree.AddConsole();
    if (test.snapcheck_config != nullptr) tree.AddModule("SnapCheckModule", test.snapcheck_config);
    auto agent = tree.StartAndWait();
    ASSERT_TRUE(agent);
    EXPECT_EQ(tree.Send(R"({"ModuleRequest":13})"),
              R"([{"ModuleIdentificator":"","ModuleRequest":13}])");
    // The request is handled on the agent's own thread after the reply.
    const std::string last = test.lines.back().substr(test.lines.back().find(' ') + 1);
    ASSERT_TRUE(tree.WaitForLog(last, kEventWait));
    EXPECT_EQ(LinesAfterCreation(tree), test.lines);
    EXPECT_EQ(CountContaining(tree.TrackedEvents(), "SHOW_SNAPCHECK\tFROM_DESKTOP"),
              test.tracked ? 1u : 0u);
    EXPECT_EQ(CountContaining(tree.Journal(), "console show-module-view"), 0u);
    EXPECT_TRUE(agent->Running());
  }
}

// "-unregister" closes every other process of its own image name: a name of
// this test's own keeps the agents of tests running beside it out of reach.
// Where systemd runs, the autostart entry is saved as a logon task, else it is
// written directly; registering twice leaves one, unregistering twice none.
TEST_F(AgentStartTest, RegisterSwitchesRunTheModuleHooksAndUnregisterClosesTheAgentFirst) {
  for (const bool systemd : {false, true}) {
    SCOPED_TRACE(systemd ? "with systemd" : "without systemd");
#ifdef _WIN32
    if (systemd) continue;  // the scheduler is the Wine prefix's
#endif
    AgentTree tree("wardex-unregister-test");
    tree.AddFrameModules();
    tree.AddModule("HandsetTidyModule");
    if (systemd) std::filesystem::create_directories(tree.root().root() + "/run/systemd/system");
    for (int round = 0; round < 2; ++round) EXPECT_EQ(tree.Run({"-REGISTER"}), 0);
    EXPECT_TRUE(ContainsInOrder(
        tree.Journal(),
        {"HandsetLinkModule register", "HandsetTidyModule register", "WardexModule register"}));
    EXPECT_EQ(CountContaining(tree.Journal(), "register"), 6u);
    EXPECT_EQ(CountContaining(tree.LogTexts(), "Tray ### On Create MainFrame"), 0u);
#ifndef _WIN32
    const std::string autostart = geteuid() == 0 ? tree.root().root() + "/etc/xdg/autostart"
                                                 : tree.root().config_home() + "/autostart";
    const auto entries = [&] {
      std::vector<std::string> names;
      std::error_code error;
      for (const auto& entry : std::filesystem::directory_iterator(autostart, error)) {
        names.push_back(entry.path().filename().string());
      }
      return names;
    };
    constexpr char kEntry[] = "Corvane\\x20Brisko\\x20\\x28Wardex.exe\\x29.desktop";
    EXPECT_EQ(entries(), std::vector<std::string>{kEntry});
    // The task names the working folder and a comment; the direct entry neither.
    const std::string exec = "Exec=\"" + tree.app_dir() + "/wardex-unregister-test\"\n";
    EXPECT_EQ(ReadFile(autostart + "/" + kEntry),
              "[Desktop Entry]\nType=Application\nName=Corvane Brisko (Wardex.exe)\n" +
                  (systemd ? "Comment=Corvane Brisko (Wardex.exe)\n" + exec +
                                 "Path=" + tree.app_dir() + "/\n"
                           : exec) +
                  "Terminal=false\nX-GNOME-Autostart-enabled=true\n");
    // The first registration finds no task to replace.
    EXPECT_EQ(CountContaining(tree.LogTexts(),
                              "Error: CTask::DeleteTask() \"Corvane Brisko (Wardex.exe)\" - "
                              "failed to Delete. hr=0x80070002"),
              systemd ? 1u : 0u);
#endif

    auto agent = tree.StartAndWait();
    ASSERT_TRUE(agent);
    // The arguments are joined, blanks kept, into the one command line that
    // the start mode reads (its table is the unit test's): these are second
    // starts, not switches.
    EXPECT_EQ(tree.Run({"-unregister", "now"}), 0);
    EXPECT_EQ(tree.Run({"-snapcheck "}), 0);
    EXPECT_EQ(CountContaining(tree.LogTexts(), "STOP: Process already running"), 2u);
    EXPECT_EQ(CountContaining(tree.LogTexts(), "SNAPCHECK"), 0u);
    for (int round = 0; round < 2; ++round) EXPECT_EQ(tree.Run({"/unregister"}), 0);
    EXPECT_EQ(agent->Wait(kExitWait), 0);
    EXPECT_TRUE(ContainsInOrder(tree.Journal(),
                                {"HandsetLinkModule stop-monitoring", "HandsetLinkModule destroy",
                                 "HandsetLinkModule unregister", "WardexModule unregister"}));
#ifndef _WIN32
    EXPECT_EQ(entries(), std::vector<std::string>{});
#endif
  }
}

TEST_F(AgentStartTest, DestructionTakesTheViewBackAndGoesOnPastAThrowingStopTask) {
  AgentTree tree;
  tree.AddConsole();
  tree.AddModule("S", "flags=36\nstop_task_throws=1\n");
  auto agent = tree.StartAndWait();
  ASSERT_TRUE(agent);
  // A switch request hands the cached module the Console's view.
  ASSERT_EQ(tree.Send(R"({"ModuleRequest":3,"ModuleIdentificator":"S","Switch":1})"),
            R"([{"ModuleIdentificator":"S","ModuleRequest":3}])");
  EXPECT_EQ(agent->Stop(), 0) << tree.Diagnostics();
  // The view is taken back before the Console goes; the thrown StopTask is
  // ignored, and the cache is emptied after it.
  EXPECT_TRUE(
      ContainsInOrder(tree.Journal(), {"S set-console-view console", "S set-console-view null",
                                       "console destroy", "S stop-task 1", "S destroy"}));
  EXPECT_EQ(CountContaining(tree.LogTexts(), "Tray ### StopTask of S threw; ignored"), 1u);
}

TEST_F(AgentStartTest, IconResetTimerFiringDuringAPipeCallbackLeavesTheBusyIcon) {
  constexpr char kReset[] = "NIM_MODIFY ok=1 id=130 flags=0x2 msg=0x800A icon=128";
  constexpr char kStartTask[] = R"({"ModuleRequest":1,"ModuleIdentificator":"T"})";
  AgentTree tree;
  tree.AddModule("T", "flags=4\n");
  // Without a Console a message dialog shows a balloon and keeps its
  // callback running until this bound.
  tree.AppendInstallConfig("[Waits]\nMessageDialogLimitSeconds=3\n");
  auto agent = tree.StartAndWait();
  ASSERT_TRUE(agent);
  auto shell_count = [&](const std::string& needle) {
    return CountContaining(tree.ShellLog(), needle);
  };

  // Through the library in this process: under Wine starting wardex-ipc
  // alone can take longer than the timer.
  ASSERT_EQ(IpcClient().Send(kStartTask, 5000).rfind("[", 0), 0u);
  std::string dialog_reply;
  std::thread dialog([&] {
    dialog_reply =
        IpcClient().Send(R"({"ModuleRequest":11,"MessageHeader":"h","Message":"busy"})", 10000);
  });
  WaitFor([&] { return shell_count("info=\"busy\"") > 0; }, milliseconds(1500));
  const bool dialog_running = shell_count("info=\"busy\"") == 1;
  dialog.join();
  ASSERT_TRUE(dialog_running) << "the dialog's callback did not begin before the timer fired";
  EXPECT_EQ(dialog_reply, R"([{"ModuleIdentificator":"","ModuleRequest":11}])");
  // The timer fired (2 s) while the dialog's callback ran (3 s): the busy icon
  // stays, and nothing arms the timer again.
  std::this_thread::sleep_for(milliseconds(2500));
  EXPECT_EQ(shell_count(kReset), 0u);

  ASSERT_EQ(tree.Send(kStartTask).rfind("[", 0), 0u);
  EXPECT_TRUE(tree.WaitForShellLog(kReset));
  EXPECT_EQ(shell_count(kReset), 1u);
}

#ifndef _WIN32  // Only Linux shows which signals a process catches (/proc).
// The crash handler is installed during static initialisation, before main:
// "wardex --help" ends in main without building the application object. The
// agent blocks writing its help into a full pipe while its caught signals are
// read from /proc.
TEST_F(AgentStartTest, CrashHandlerIsInstalledBeforeMain) {
  AgentTree tree;
  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_NONBLOCK), 0);
  const std::string filler(4096, 'x');
  while (write(pipe_fds[1], filler.data(), filler.size()) > 0) {
  }
  ASSERT_EQ(fcntl(pipe_fds[1], F_SETFL, 0), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    const std::string program = tree.app_dir() + "/wardex";
    execl(program.c_str(), program.c_str(), "--help", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipe_fds[1]);
  // SigCgt is a hexadecimal mask, bit (n - 1) for signal n.
  const uint64_t wanted = (1ULL << (SIGSEGV - 1)) | (1ULL << (SIGBUS - 1)) |
                          (1ULL << (SIGFPE - 1)) | (1ULL << (SIGILL - 1)) | (1ULL << (SIGABRT - 1));
  // Asleep in the agent's own image: blocked on the pipe, main has begun.
  const std::string proc = "/proc/" + std::to_string(pid);
  std::string status;
  WaitFor(
      [&] {
        std::error_code error;
        status = ReadFile(proc + "/status");
        return std::filesystem::read_symlink(proc + "/exe", error) == tree.app_dir() + "/wardex" &&
               status.find("\nState:\tS") != std::string::npos;
      },
      milliseconds(10000));
  const size_t at = status.find("\nSigCgt:\t");
  ASSERT_NE(at, std::string::npos) << status;
  EXPECT_EQ(std::stoull(status.substr(at + 9, 16), nullptr, 16) & wanted, wanted) << status;
  char buffer[4096];
  while (read(pipe_fds[0], buffer, sizeof(buffer)) > 0) {
  }
  close(pipe_fds[0]);
  int exit_status = 0;
  ASSERT_EQ(waitpid(pid, &exit_status, 0), pid);
  EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0) << exit_status;
}
#endif

// A plug-in that faults in a guarded call of the creation sequence fails
// that try, which is made again on a fresh frame, 17 times in all; nothing
// of the agent's is left held (the menu opens through the tray's and the
// shell's locks, a module loads through the cache's, the agent closes). A
// fault while a library is loaded happens inside the loader's locks and is
// no plug-in call: the crash report is written and the process ends. On
// Windows the system's loader contains such a fault: the load fails, and the
// agent runs on without the module.
TEST_F(AgentStartTest, FaultsDuringCreationAreRetriedOnlyInsidePlugInCalls) {
  struct Case {
    const char* config;
    int faults;       // creation sequences that fault before one completes
    int exit_status;  // -1: the agent runs in the end
  };
  // Under Wine on a loaded machine 17 faulting tries have taken 20 s.
  constexpr milliseconds kRetriesWait{60000};
  const Case cases[] = {{"monitoring_faults=16\n", 16, -1},
                        {"monitoring_faults=17\n", 17, 0},
#ifdef _WIN32
                        {"load_faults=1\n", 0, -1}};
#else
                        {"load_faults=1\n", 1, 128 + SIGSEGV}};
#endif
  for (const Case& test : cases) {
    SCOPED_TRACE(test.config);
    AgentTree tree;
    tree.AddConsole();
    tree.AddModule("WardexModule", test.config);
    auto agent = tree.Start();
    ASSERT_TRUE(agent);
    if (test.exit_status == -1) {
      ASSERT_TRUE(tree.WaitForLog("Tray ### On Create MainFrame done", kRetriesWait));
      EXPECT_EQ(tree.Send(R"({"ModuleRequest":9,"ModuleIdentificator":"WardexModule"})"),
                R"([{"ModuleIdentificator":"WardexModule","ModuleRequest":9}])");
      EXPECT_NE(tree.OpenMenu(), "");
      EXPECT_EQ(tree.ReadProduct<uint32_t>("Tray_StartCount"), 1u);
      EXPECT_EQ(agent->Stop(), 0) << tree.Diagnostics();
    } else {
      EXPECT_EQ(agent->Wait(kRetriesWait), test.exit_status) << tree.Diagnostics();
      EXPECT_EQ(CountContaining(tree.LogTexts(), "Tray ### On Create MainFrame done"), 0u);
    }
    const std::vector<std::string> log = tree.LogTexts();
    const std::vector<std::string> lines = AgentLines(tree);
    const bool crashed = test.exit_status == 128 + SIGSEGV;
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), "3 ERROR: LoadFrame failed - try for one minute"),
        !crashed && test.faults > 0 ? 1 : 0);
    EXPECT_EQ(CountContaining(log,
                              "Worker thread \"CBriskoTrayApp::LoadFrame\": exception "
                              "0xC0000005"),
              static_cast<size_t>(crashed ? 0 : test.faults));
    if (crashed) {
      EXPECT_NE(tree.AgentOutput().find("crash-"), std::string::npos);
      continue;
    }
    const size_t attempts = static_cast<size_t>(test.exit_status == -1 ? test.faults + 1 : 17);
    // Each attempt began the creation sequence; the one that completed also
    // built the menu and finished ("... Build menu", "... done").
    EXPECT_EQ(CountContaining(log, "Tray ### On Create MainFrame"),
              attempts + (test.exit_status == -1 ? 2 : 0));
    // Every attempt had a fresh frame: a Console and an icon of its own, each
    // released before the next attempt.
    EXPECT_EQ(CountContaining(tree.Journal(), "console create"), attempts);
    EXPECT_EQ(CountContaining(tree.ShellLog(), "NIM_ADD ok=1"), attempts);
    EXPECT_EQ(CountContaining(tree.ShellLog(), "NIM_DELETE ok=1"),
              static_cast<size_t>(test.faults) + (test.exit_status == -1 ? 1 : 0));
  }
}

// The time of day in milliseconds of the first log line holding |text|, -1
// when there is none.
long LogTimeMs(const AgentTree& tree, const std::string& text) {
  for (const LogLine& line : tree.LogLines()) {
    if (line.text.find(text) == std::string::npos) continue;
    long hour = 0, minute = 0, second = 0, ms = 0;  // "2026-12-05 14:09:10.123"
    std::sscanf(line.time.c_str() + 11, "%ld:%ld:%ld.%ld", &hour, &minute, &second, &ms);
    return ((hour * 60 + minute) * 60 + second) * 1000 + ms;
  }
  return -1;
}

// Refused more than the creation sequence's 21 tries, the icon waits for a
// new taskbar.
TEST_F(AgentStartTest, RefusedIconAddsAreRetriedTwentyTimesThenAtEachNewTaskbar) {
  constexpr long kRetryWaitMs = 50;  // TrayIconRetryMs of the staged install.cfg
  for (const size_t refused : {3, 20, 22}) {
    SCOPED_TRACE(refused);
    AgentTree tree;
    tree.AddFrameModules();
    tree.RefuseShellAdds(static_cast<int>(refused));
    auto agent = tree.StartAndWait();
    ASSERT_TRUE(agent) << tree.Diagnostics();

    const std::vector<std::string> shell = tree.ShellLog();
    const size_t attempts = std::min<size_t>(refused + 1, 21);
    ASSERT_EQ(CountContaining(shell, "NIM_ADD"), attempts);
    for (size_t i = 0; i < attempts; ++i) {
      EXPECT_EQ(shell[i].rfind(i == refused ? "NIM_ADD ok=1 id=130" : "NIM_ADD ok=0 id=130", 0), 0u)
          << shell[i];
    }
    // A wait before each retry, and only then the rest of the sequence.
    const long icon_begun = LogTimeMs(tree, "Tray ### Create TrayIcon");
    const long console_begun = LogTimeMs(tree, "Tray ### Create Console");
    ASSERT_GE(icon_begun, 0);
    EXPECT_GE(console_begun - icon_begun, static_cast<long>(attempts - 1) * kRetryWaitMs);
    EXPECT_EQ(tree.Send(kPing), kPingReply);
    EXPECT_TRUE(agent->Running());
    if (refused < attempts) {
      EXPECT_NE(tree.OpenMenu(), "");
      continue;
    }
    // A click reaches the agent only through an icon.
    ASSERT_TRUE(tree.ShellCommand("click rbuttonup"));
    EXPECT_TRUE(tree.WaitForShellLog("CLICK event=0x205 delivered=0"));

    // The first new taskbar refuses the add too; the agent tries again at the next.
    ASSERT_TRUE(tree.ShellCommand("taskbar-created"));
    ASSERT_TRUE(tree.WaitForShellLog("NIM_ADD ok=0", 22));
    ASSERT_TRUE(tree.ShellCommand("taskbar-created"));
    ASSERT_TRUE(tree.WaitForShellLog("NIM_ADD ok=1 id=130"));
    std::vector<std::string> tail;
    for (const std::string& line : tree.ShellLog()) {
      if (line == "TASKBARCREATED") tail.push_back(line);
      if (line.rfind("NIM_ADD ok=", 0) == 0) tail.push_back(line.substr(0, 12));  // "NIM_ADD ok=N"
    }
    ASSERT_GE(tail.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(tail.end() - 4, tail.end()),
              (std::vector<std::string>{"TASKBARCREATED", "NIM_ADD ok=0", "TASKBARCREATED",
                                        "NIM_ADD ok=1"}));
    EXPECT_NE(CountContaining(tree.ShellLog(),
                              "NIM_ADD ok=1 id=130 flags=0x7 msg=0x800A icon=128 "
                              "tip=\"Wardex test agent\""),
              0u);
    // Clicks reach the agent again. (Create loads the menu only when its own
    // add succeeds, so this icon opens none.)
    ASSERT_TRUE(tree.ShellCommand("click rbuttonup"));
    EXPECT_TRUE(tree.WaitForShellLog("CLICK event=0x205 delivered=1"));
    EXPECT_TRUE(agent->Running());
  }
}

// The menu without the Wardex and SnapCheck modules is the desktop test's.
TEST_F(AgentStartTest, WithoutTheIpcLibraryTheAgentLogsItAndRunsOn) {
  AgentTree tree;
  tree.AddFrameModules();
  tree.RemoveIpcLibrary();
  auto agent = tree.StartAndWait();
  ASSERT_TRUE(agent);
  EXPECT_EQ(CountContaining(tree.LogTexts(),
                            "IPCLoader: Could not load IPC-library at " +
                                SystemPath(tree.app_dir() + "/modules/common/kvl_ipc32") +
                                kLibrarySuffix + "!"),
            1u);
  EXPECT_EQ(tree.Send(kPing, 500).rfind("ERROR: ", 0), 0u);
  EXPECT_TRUE(agent->Running());
}

}  // namespace
}  // namespace wardex::test
