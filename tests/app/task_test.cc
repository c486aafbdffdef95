// CTask and the files it writes: autostart entries and user timers in a
// private root, compared whole, checked by the desktop's and systemd's own
// validators; the log lines and result codes of every setter and failure;
// what the user's service manager is told when a user's timer is written or
// removed (a stand-in manager on a private bus records every call).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "app/task.h"
#include "modules/module_test_env.h"
#include "platform/local_time.h"
#include "platform/scheduled_task_files.h"
#ifndef _WIN32
#include <gio/gdesktopappinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "desktop/desktop_peers.h"
#include "platform/scheduled_task_files_linux.h"
#include "support/session_bus.h"
#include "support/wait.h"
#endif

namespace wardex::test {
namespace {

namespace fs = std::filesystem;

// 2026-12-05 (a Saturday) 08:30:00 UTC; the tests run in UTC on Linux.
constexpr int64_t kStart = 1796459400;

class TaskTest : public ::testing::Test {
 protected:
#ifndef _WIN32  // the files of a task on Linux
  void SetUp() override {
    env_.env().Set("TZ", "UTC");
    env_.env().Set("XDG_RUNTIME_DIR", env_.root().path() + "/runtime");
    env_.env().Unset("DBUS_SESSION_BUS_ADDRESS");
    ::mkdir((env_.root().path() + "/runtime").c_str(), 0700);
    ASSERT_TRUE(WriteFile(root() + "/run/systemd/system/.present", ""));
    // A program whose path needs every kind of quoting that a logon entry can carry.
    folder_ = env_.root().path() + "/opt/Brisko 100% \"x\"";
    program_ = folder_ + "/wardex";
    ASSERT_TRUE(WriteFile(program_, "#!/bin/sh\n"));
    ASSERT_EQ(chmod(program_.c_str(), 0755), 0);
  }

  std::string root() const { return env_.root().root(); }
  // The folders that this process's tasks go to.
  std::string AutostartFolder() const {
    return geteuid() == 0 ? root() + "/etc/xdg/autostart"
                          : env_.root().config_home() + "/autostart";
  }
  std::string UnitFolder() const {
    return geteuid() == 0 ? root() + "/etc/systemd/user"
                          : env_.root().config_home() + "/systemd/user";
  }

  // A task of |frequency| as the autostart task is built.
  CTask MakeTask(uint32_t frequency) const {
    CTask task;
    task.SetProgram(Wide(program_));
    task.SetStartingDir(Wide(folder_));
    task.SetComment(u"Starts the agent");
    task.SetParameters(u"--quiet \"50% off\"");
    task.SetFrequency(frequency);
    task.SetStartDate(kStart);
    task.SetStartTime(kStart + 59);  // the seconds are dropped
    return task;
  }
#endif

  std::vector<LoggedLine> Log() const { return env_.LogLines(); }

  ModuleTestEnv env_;
  std::string folder_;
  std::string program_;
};

TEST_F(TaskTest, SettersLogTheirLinesAndKeepNoRefusedValue) {
  platform::LocalCalendarTime start{};
  ASSERT_TRUE(platform::ToLocalCalendarTime(kStart, &start));
  const int64_t midnight = kStart - start.hour * 3600 - start.minute * 60 + 10 * 60;  // 00:10
  // The setter's call, whether the task kept none of the refused value, the line at level 3.
  const std::tuple<std::function<void(CTask&)>, std::function<bool(const CTask&)>, std::string>
      kCases[] = {
          {[](CTask& t) { t.SetProgram(u"/nonexistent/wardex"); },
           [](const CTask& t) { return t.program().IsEmpty(); },
           "Warning: CTask::SetProgram(/nonexistent/wardex) - program not found"},
          {[](CTask& t) { t.SetComment(u""); }, nullptr,
           "Warning: CTask::SetComment() - invalid parameter"},
          {[](CTask& t) { t.SetStartingDir(u""); }, nullptr,
           "Warning: CTask::SetStartingDir() - invalid parameter"},
          {[](CTask& t) { t.SetFrequency(6); }, [](const CTask& t) { return t.frequency() == 0; },
           "Error: CTask::SetFrequency(6) - invalid parameter"},
          {[&](CTask& t) { t.SetStartTime(midnight); },
           [](const CTask& t) { return t.start().hour == 0 && t.start().minute == 0; },
           "Error: CTask::SetStartTime(CTime) - missing valid parameter"},
          {[](CTask& t) { t.SetStartDate(int64_t{1} << 62); },
           [](const CTask& t) { return t.start().year == 0 && t.start().hour == 0; },
           "Error: CTask::SetStartDate(CTime) - missing parameter"},
      };
  for (const auto& [act, refused, line] : kCases) {
    SCOPED_TRACE(line);
    env_.ClearLog();
    CTask task;
    act(task);
    EXPECT_TRUE(!refused || refused(task));
    EXPECT_EQ(Log(), (std::vector<LoggedLine>{{3, line}}));
  }
}

// What CTask writes on Linux; its work items on Windows are the scheduled-task
// tests' (tests/platform).
#ifndef _WIN32

constexpr char kName[] = "Corvane Brisko (Wardex.exe)";
constexpr char kEscaped[] = "Corvane\\x20Brisko\\x20\\x28Wardex.exe\\x29";

// The line SaveTask logs at |level| ("Error", "Warning" or "Succeeded") for
// the task |name|.
LoggedLine SaveLine(int level, const std::string& what, const std::string& name = kName) {
  const char* kind = level == 3 ? "Error" : level == 6 ? "Warning" : "Succeeded";
  return {level, std::string(kind) + ": CTask::SaveTask() \"" + name + "\" - " + what};
}

std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    if (!entry.is_directory()) files.push_back(entry.path().lexically_relative(folder).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST_F(TaskTest, WritesTheFilesOfEachFrequencyAndFlag) {
  const auto until_january_10 = [](CTask& task) { task.SetEndDate({2027, 1, 0, 10}); };
  // What, the frequency, whether disabled and deleted when done, a change to
  // the task, the [Timer] lines (null for an autostart entry).
  const std::tuple<const char*, uint32_t, bool, bool, std::function<void(CTask&)>, const char*>
      kCases[] = {
          {"at logon", 5, false, false, nullptr, nullptr},
          {"at logon, disabled", 5, true, false, nullptr, nullptr},
          {"once (0), the end date unused", 0, false, false, until_january_10,
           "OnCalendar=2026-12-05 08:30:00\n"},
          {"once (1)", 1, false, false, nullptr, "OnCalendar=2026-12-05 08:30:00\n"},
          {"daily to an end date, deleted when done", 2, false, true, until_january_10,
           "OnCalendar=2026-12-05..31 08:30:00\nOnCalendar=2027-01-01..10 08:30:00\n"
           "RemainAfterElapse=no\n"},
          {"weekly on the start's weekday, disabled", 3, true, false, nullptr,
           "OnCalendar=Sat 2026-12-05..31 08:30:00\nOnCalendar=Sat 2027..2199-*-* 08:30:00\n"},
          {"monthly on the start's day, repeated every 30 minutes for 90", 4, false, false,
           [](CTask& task) { task.SetRepetition(30, 90); },
           "OnCalendar=2026-12-05 08:30:00\nOnCalendar=2026-12-05 09:00,30:00\n"
           "OnCalendar=2027..2199-*-05 08:30:00\nOnCalendar=2027..2199-*-05 09:00,30:00\n"},
          {"daily repeated past midnight stops at midnight", 2, false, false,
           [](CTask& task) {
             task.SetStartTime(kStart + 15 * 3600);  // 23:30
             task.SetRepetition(20, 120);
           },
           "OnCalendar=2026-12-05..31 23:30,50:00\nOnCalendar=2027..2199-*-* 23:30,50:00\n"},
      };
  for (const auto& [what, frequency, disabled, delete_when_done, adjust, timer_events] : kCases) {
    SCOPED_TRACE(what);
    CTask task = MakeTask(frequency);
    if (adjust) adjust(task);
    // A unit carries what no logon entry can.
    if (timer_events != nullptr) task.SetParameters(u"--quiet \"50% off\" $HOME");
    ASSERT_EQ(task.SaveTask(Wide(kName), false, disabled, delete_when_done), 0);
    const std::string base = std::string("/") + kEscaped;
    if (timer_events == nullptr) {
      const std::string entry = AutostartFolder() + base + ".desktop";
      EXPECT_EQ(ReadFile(entry), std::string("[Desktop Entry]\nType=Application\nName=") + kName +
                                     "\nComment=Starts the agent\nExec=/usr/bin/env \"" +
                                     env_.root().path() +
                                     R"(/opt/Brisko 100%% \\"x\\"/wardex" "--quiet" "50%% off")" +
                                     "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n" +
                                     (disabled ? "Hidden=true\n" : ""));
      std::string output;
      EXPECT_EQ(RunShell("desktop-file-validate '" + entry + "' 2>&1", &output), 0) << output;
      EXPECT_EQ(FilesBelow(UnitFolder()), std::vector<std::string>{});
    } else {
      const std::string unit = UnitFolder() + base;
      const std::string head = "[Unit]\nDescription=Starts the agent\n";
      EXPECT_EQ(ReadFile(unit + ".service"),
                head + "\n[Service]\nType=exec\nExecStart=/usr/bin/env \"" + env_.root().path() +
                    R"(/opt/Brisko 100%% \"x\"/wardex" "--quiet" "50%% off" "$$HOME")" +
                    "\nWorkingDirectory=" + env_.root().path() + "/opt/Brisko 100%% \"x\"\n");
      EXPECT_EQ(ReadFile(unit + ".timer"),
                head + "\n[Timer]\n" + timer_events + "\n[Install]\nWantedBy=timers.target\n");
      std::vector<std::string> expected = {std::string(kEscaped) + ".service",
                                           std::string(kEscaped) + ".timer"};
      if (!disabled) {
        expected.push_back(std::string("timers.target.wants/") + kEscaped + ".timer");
        EXPECT_EQ(fs::read_symlink(UnitFolder() + "/" + expected.back()).string(),
                  std::string("../") + kEscaped + ".timer");
      }
      EXPECT_EQ(FilesBelow(UnitFolder()), expected);
      EXPECT_EQ(FilesBelow(AutostartFolder()), std::vector<std::string>{});
      std::string output;
      EXPECT_EQ(
          RunShell("systemd-analyze --user verify '" + unit + ".timer' '" + unit + ".service' 2>&1",
                   &output),
          0)
          << output;
    }
    ASSERT_EQ(CTask::DeleteTask(Wide(kName)), 0);
    EXPECT_EQ(FilesBelow(UnitFolder()), std::vector<std::string>{});
    EXPECT_EQ(FilesBelow(AutostartFolder()), std::vector<std::string>{});
  }
}

TEST_F(TaskTest, WithoutAGraphicalSessionTheAccountStaysEmpty) {
  std::error_code error;
  if (fs::exists("/run/systemd/sessions", error) && !fs::is_empty("/run/systemd/sessions", error)) {
    GTEST_SKIP() << "this machine has logon sessions";
  }
  CTask task;
  task.SetAccountToLogonUser();
  EXPECT_TRUE(task.account().IsEmpty());
  const std::vector<LoggedLine> lines = Log();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 3);
  EXPECT_EQ(lines[0].text.rfind(
                "Error: CTask::GetCurrentLogonAccount() - GetProcessIdFromName failed: 0x", 0),
            0u)
      << lines[0].text;
}

TEST_F(TaskTest, FailuresReturnTheirCodesAndLogTheirLines) {
  const std::string long_name(248, 'a');
  const LoggedLine account = SaveLine(12, "SetAccountInformation Usr:  Pw:*********");
  const LoggedLine trigger = SaveLine(3, "failed to SetTrigger. hr=0x80070057");
  const auto end_before_start = [](CTask& t) { t.SetEndDate({2026, 12, 0, 4}); };
  // The task's name, its frequency, a change to it, the code, the lines logged.
  const std::tuple<std::string, uint32_t, std::function<void(CTask&)>, HRESULT,
                   std::vector<LoggedLine>>
      kCases[] = {
          {long_name, 5, nullptr, static_cast<HRESULT>(0x800700CE),
           std::vector{SaveLine(3, "couldn't create a new work item. hr=0x800700CE", long_name)}},
          {kName, 5, [](CTask& t) { t.SetProgram(u"/nonexistent"); }, kHResultInvalidArgument,
           std::vector{SaveLine(3, "failed to SetApplicationName (). hr=0x80070057")}},
          {kName, 5, [](CTask& t) { t.SetStartingDir(u"opt"); }, kHResultInvalidArgument,
           std::vector{SaveLine(3, "failed to SetWorkingDirectory (opt). hr=0x80070057")}},
          // An end date before the start.
          {kName, 2, end_before_start, kHResultInvalidArgument, std::vector{account, trigger}},
          // A weekly start whose time could not be converted.
          {kName, 3, [](CTask& t) { t.SetStartTime(int64_t{1} << 62); }, kHResultInvalidArgument,
           std::vector{account, trigger}},
      };
  for (const auto& [name, frequency, adjust, code, lines] : kCases) {
    SCOPED_TRACE(lines.back().text + ", frequency " + std::to_string(frequency));
    CTask task = MakeTask(frequency);
    if (adjust) adjust(task);
    env_.ClearLog();
    EXPECT_EQ(task.SaveTask(Wide(name), false, false, false), code);
    EXPECT_EQ(Log(), lines);
    EXPECT_EQ(FilesBelow(UnitFolder()), std::vector<std::string>{});
    EXPECT_EQ(FilesBelow(AutostartFolder()), std::vector<std::string>{});
  }
}

TEST_F(TaskTest, AnUnwritableCommentIsLeftOutAndSavingGoesOn) {
  CTask task = MakeTask(5);
  task.SetComment(u"two\tlines");
  EXPECT_EQ(task.SaveTask(Wide(kName), false, false, false), 0);
  EXPECT_EQ(Log().back(), SaveLine(3, "failed to SetComment (two\tlines). hr=0x80070057"));
  const std::string entry = ReadFile(AutostartFolder() + "/" + kEscaped + ".desktop");
  EXPECT_EQ(entry.find("Comment="), std::string::npos) << entry;
}

TEST_F(TaskTest, AnExistingTaskIsReplacedOrKeptWhenAskedToFail) {
  ASSERT_EQ(MakeTask(2).SaveTask(Wide(kName), false, false, false), 0);
  const std::vector<std::string> timer_files = FilesBelow(UnitFolder());
  const std::string timer = ReadFile(UnitFolder() + "/" + kEscaped + ".timer");
  env_.ClearLog();
  EXPECT_EQ(MakeTask(5).SaveTask(Wide(kName), true, false, false), kHResultFileExists);
  EXPECT_EQ(Log(), std::vector{SaveLine(6, "A task with the given name already exists.")});
  EXPECT_EQ(FilesBelow(UnitFolder()), timer_files);
  EXPECT_EQ(ReadFile(UnitFolder() + "/" + kEscaped + ".timer"), timer);
  EXPECT_EQ(FilesBelow(AutostartFolder()), std::vector<std::string>{});

  // Saved again without the flag, the logon task replaces the timer whole.
  EXPECT_EQ(MakeTask(5).SaveTask(Wide(kName), false, false, false), 0);
  EXPECT_EQ(FilesBelow(UnitFolder()), std::vector<std::string>{});
  EXPECT_EQ(FilesBelow(AutostartFolder()),
            std::vector<std::string>{std::string(kEscaped) + ".desktop"});
}

TEST_F(TaskTest, WithoutSystemdTheSchedulerCannotBeOpened) {
  fs::remove_all(root() + "/run");
  // The error, then seven lines that explain the code: the first and the last checked.
  const auto expect_refusal = [this] {
    const std::vector<LoggedLine> log = Log();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0], (LoggedLine{3, std::string("Error: CTask::OpenTaskScheduler() \"") + kName +
                                         "\" - failed to CoCreateInstance of "
                                         "CLSID_CTaskScheduler. hr=0x80040154"}));
    EXPECT_EQ(log[1], (LoggedLine{3,
                                  "    The error was REGDB_E_CLASSNOTREG, meaning you don't "
                                  "have the scheduler installed."}));
    EXPECT_EQ(log[7], (LoggedLine{3, "    scheduler on NT 4 and earlier."}));
  };
  EXPECT_EQ(MakeTask(2).SaveTask(Wide(kName), false, false, false), kHResultFail);
  expect_refusal();
  env_.ClearLog();
  EXPECT_EQ(CTask::DeleteTask(Wide(kName)), kHResultFail);
  expect_refusal();
}

// An autostart entry as the logon session reads it: through GLib, which
// starts it (gnome-session and others), and through systemd's generator,
// whose unit's ExecStart= line is returned ("" when it made none).
std::string StartAsLogonSessionsDo(const std::string& entry, const std::string& config_home) {
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(entry.c_str());
  EXPECT_NE(info, nullptr) << "GLib refuses " << entry;
  if (info != nullptr) {
    GError* error = nullptr;
    EXPECT_TRUE(g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, &error))
        << (error != nullptr ? error->message : "");
    if (error != nullptr) g_error_free(error);
    g_object_unref(info);
  }
  const std::string units = config_home + "/generated";
  fs::remove_all(units);
  fs::create_directories(units);
  std::string output;
  RunShell("XDG_CONFIG_HOME='" + config_home + "' XDG_CONFIG_DIRS=/nonexistent " +
               "/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator '" + units +
               "' '" + units + "' '" + units + "' 2>&1",
           &output);
  for (const std::string& unit : FilesBelow(units)) {
    if (!unit.ends_with(".service")) continue;
    std::string verified;
    EXPECT_EQ(
        RunShell("systemd-analyze --user verify '" + units + "/" + unit + "' 2>&1", &verified), 0)
        << verified;
    const std::string text = ReadFile(units + "/" + unit);
    const size_t line = text.find("\nExecStart=");
    if (line != std::string::npos)
      return text.substr(line + 11, text.find('\n', line + 1) - line - 11);
  }
  return "";
}

// Every program path that both can start gets an entry that both start;
// the others are refused, with a log line, and nothing is written.
TEST_F(TaskTest, AutostartEntriesStartTheirProgramInGLibAndInSystemd) {
  env_.env().Set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
  const std::string config_home = env_.root().path() + "/session";
  // The program's folder, the generator's ExecStart= in unit syntax below {opt}.
  const std::pair<const char*, const char*> kCases[] = {
      {"Brisko 100", R"(:"{opt}/Brisko 100/wardex")"},
      {"Brisko 100% \"x\" 'y'", R"(:/usr/bin/env "{opt}/Brisko 100%% \"x\" 'y'/wardex")"},
      {"Gr\u00fc\u00dfe;&", ":\"{opt}/Gr\u00fc\u00dfe;&/wardex\""},
      {"back\\slash", nullptr},
      {"$HOME", nullptr},
      {"a`b", nullptr},
  };
  for (const auto& [folder, exec_start] : kCases) {
    SCOPED_TRACE(folder);
    const std::string program = env_.root().path() + "/opt/" + folder + "/wardex";
    const std::string ran = env_.root().path() + "/ran";
    ASSERT_TRUE(WriteFile(program, "#!/bin/sh\ntouch '" + ran + "'\n"));
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    unlink(ran.c_str());
    platform::TaskDefinition definition;
    definition.program = Wide(program);
    definition.working_folder = Wide(fs::path(program).parent_path().string());
    const uint32_t written =
        platform::WriteTaskFiles(Wide(kName), definition, platform::TaskScope::kUser);
    if (exec_start == nullptr) {
      EXPECT_EQ(written, 161u);
      EXPECT_EQ(FilesBelow(env_.root().config_home() + "/autostart"), std::vector<std::string>{});
      continue;
    }
    ASSERT_EQ(written, 0u);
    fs::remove_all(config_home);
    fs::create_directories(config_home);
    fs::copy(env_.root().config_home() + "/autostart", config_home + "/autostart");
    std::string expected = exec_start;
    expected.replace(expected.find("{opt}"), 5, env_.root().path() + "/opt");
    EXPECT_EQ(
        StartAsLogonSessionsDo(config_home + "/autostart/" + kEscaped + ".desktop", config_home),
        expected);
    EXPECT_TRUE(test::WaitFor([&] { return access(ran.c_str(), F_OK) == 0; }))
        << "GLib did not start it";
    ASSERT_EQ(platform::RemoveTaskFiles(Wide(kName), platform::TaskScope::kUser), 0u);
  }
  EXPECT_EQ(Log().size(), 3u);
}

TEST_F(TaskTest, NamesAreEscapedAsSystemdEscapesThem) {
  const std::string names[] = {kName,         "a/b-c",    ".hidden.x",          "Grüße 名前",
                               "back\\slash", "quote\"d", std::string(247, 'z')};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::string expected;
    ASSERT_EQ(RunShell("systemd-escape -- '" + name + "' 2>&1", &expected), 0);
    expected.pop_back();  // the line break
    EXPECT_EQ(platform::EscapedTaskName(Wide(name)), expected);
    ASSERT_EQ(MakeTask(5).SaveTask(Wide(name), false, false, false), 0);
    EXPECT_TRUE(fs::exists(AutostartFolder() + "/" + expected + ".desktop"));
    ASSERT_EQ(CTask::DeleteTask(Wide(name)), 0);
  }
}

// Whether saving |task| as an unprivileged user whose configuration folder is
// |config| is denied.
bool DeniedToUnprivilegedUser(const std::string& config, CTask task) {
  const auto denied = static_cast<HRESULT>(0x80070005);
  return RunAsUnprivileged([&] {
           setenv("XDG_CONFIG_HOME", config.c_str(), 1);
           return task.SaveTask(Wide(kName), false, false, false) == denied ? 0 : 1;
         }) == 0;
}

TEST_F(TaskTest, AnUnwritableFolderFailsAndLeavesNothingHalfDone) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  // The user's own folder, with a timer-enabling folder the user cannot write.
  const std::string config = env_.root().path() + "/home-config";
  const std::string wants = config + "/systemd/user/timers.target.wants";
  fs::create_directories(wants);
  for (const std::string& own : {config, config + "/systemd", config + "/systemd/user"}) {
    ASSERT_EQ(chown(own.c_str(), kNobodyUid, kNobodyUid), 0);
  }
  // The child logs to the test's log file.
  const std::string log = env_.root().path() + "/wardex.log";
  ASSERT_TRUE(WriteFile(log, ""));
  ASSERT_EQ(chmod(log.c_str(), 0666), 0);
  EXPECT_TRUE(DeniedToUnprivilegedUser(config, MakeTask(2)));
  EXPECT_EQ(FilesBelow(config), std::vector<std::string>{});
  // A configuration folder that belongs to someone else takes no entry.
  const std::string foreign = env_.root().path() + "/foreign-config";
  fs::create_directories(foreign);
  EXPECT_TRUE(DeniedToUnprivilegedUser(foreign, MakeTask(5)));
  EXPECT_EQ(FilesBelow(foreign), std::vector<std::string>{});
  EXPECT_EQ(Log().back(), SaveLine(3, "failed to Save(). hr=0x80070005"));
}

TEST_F(TaskTest, AMachineWideTimerIsTiedToItsAccountAndReadableByAll) {
  platform::TaskDefinition definition;
  definition.program = u"/bin/true";
  definition.user = u"alice";
  definition.trigger.kind = platform::TaskTrigger::Kind::kDaily;
  definition.trigger.begin = {2026, 12, 5};
  definition.trigger.hour = 7;
  // Every user's session reads machine-wide units, whatever the umask.
  const mode_t umask_before = umask(077);
  const uint32_t written =
      platform::WriteTaskFiles(u"daily", definition, platform::TaskScope::kMachine);
  umask(umask_before);
  ASSERT_EQ(written, 0u);
  for (const char* path : {"/etc", "/etc/systemd/user", "/etc/systemd/user/timers.target.wants",
                           "/etc/systemd/user/daily.timer", "/etc/systemd/user/daily.service"}) {
    struct stat info {};
    ASSERT_EQ(stat((root() + path).c_str(), &info), 0) << path;
    EXPECT_EQ(info.st_mode & 0777, S_ISDIR(info.st_mode) ? 0755u : 0644u) << path;
  }
  const std::string head = "[Unit]\nDescription=daily\nConditionUser=alice\n";
  EXPECT_EQ(ReadFile(root() + "/etc/systemd/user/daily.timer"),
            head +
                "\n[Timer]\nOnCalendar=2026-12-05..31 07:00:00\n"
                "OnCalendar=2027..2199-*-* 07:00:00\n\n[Install]\nWantedBy=timers.target\n");
  // A program path without quotes or backslashes is started directly.
  EXPECT_EQ(ReadFile(root() + "/etc/systemd/user/daily.service"),
            head + "\n[Service]\nType=exec\nExecStart=\"/bin/true\"\n");
  // The user's own timer needs no condition.
  ASSERT_EQ(platform::WriteTaskFiles(u"daily", definition, platform::TaskScope::kUser), 0u);
  EXPECT_EQ(ReadFile(env_.root().config_home() + "/systemd/user/daily.timer").find("ConditionUser"),
            std::string::npos);
}

// Owns org.freedesktop.systemd1 on the bus at |address|, answers every call
// to the manager's object and records it as "Method" or "Method unit". A
// thread of its own answers: the calls block the test's thread.
class StandInUserManager : public BusPeer {
 public:
  explicit StandInUserManager(const std::string& address) : BusPeer(address) {
    if (ok() && sd_bus_request_name(bus_, "org.freedesktop.systemd1", 0) >= 0 &&
        sd_bus_add_object(bus_, nullptr, "/org/freedesktop/systemd1", OnCall, this) >= 0) {
      thread_ = std::jthread([this](std::stop_token stop) {
        while (!stop.stop_requested()) {
          Pump();
          sd_bus_wait(bus_, 50'000);
        }
      });
    }
  }

  bool ready() const { return thread_.joinable(); }
  std::vector<std::string> TakeCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(calls_);
  }

 private:
  static int OnCall(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* manager = static_cast<StandInUserManager*>(self);
    std::string call = sd_bus_message_get_member(message);
    const char* unit = nullptr;
    const char* mode = nullptr;
    if (sd_bus_message_read(message, "ss", &unit, &mode) >= 0) call += std::string(" ") + unit;
    {
      std::lock_guard<std::mutex> lock(manager->mutex_);
      manager->calls_.push_back(call);
    }
    return call == "Reload" ? sd_bus_reply_method_return(message, "")
                            : sd_bus_reply_method_return(message, "o", "/job/1");
  }

  std::mutex mutex_;
  std::vector<std::string> calls_;
  std::jthread thread_;  // last: it ends before what it touches goes
};

TEST(UserManagerTest, AUsersTimerIsStartedOnWriteAndStoppedOnRemoval) {
  ModuleTestEnv env;
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  bus.ExportToEnvironment();
  StandInUserManager manager(bus.address());
  ASSERT_TRUE(manager.ready());
  platform::TaskDefinition timer;
  timer.program = u"/bin/true";
  timer.trigger.kind = platform::TaskTrigger::Kind::kDaily;
  timer.trigger.begin = {2026, 12, 5};
  platform::TaskDefinition disabled = timer;
  disabled.disabled = true;
  platform::TaskDefinition at_logon;
  at_logon.program = u"/bin/true";
  const auto write = [](const platform::TaskDefinition& definition) {
    return [definition] {
      return platform::WriteTaskFiles(u"nightly", definition, platform::TaskScope::kUser);
    };
  };
  const auto remove = [] {
    return platform::RemoveTaskFiles(u"nightly", platform::TaskScope::kUser);
  };
  // What, the step, the manager's calls.
  const std::tuple<const char*, std::function<uint32_t()>, std::vector<std::string>> kSteps[] = {
      {"an enabled timer is loaded and started",
       write(timer),
       {"Reload", "StartUnit nightly.timer"}},
      {"removed, it is stopped first", remove, {"StopUnit nightly.timer", "Reload"}},
      {"a disabled timer is only loaded", write(disabled), {"Reload"}},
      {"removed too", remove, {"StopUnit nightly.timer", "Reload"}},
      {"an autostart entry needs no manager", write(at_logon), {}},
      {"nor does its removal", remove, {}},
  };
  for (const auto& [what, act, calls] : kSteps) {
    SCOPED_TRACE(what);
    EXPECT_EQ(act(), 0u);
    EXPECT_EQ(manager.TakeCalls(), calls);
  }
}

#endif

}  // namespace
}  // namespace wardex::test
