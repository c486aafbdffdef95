// Scheduled tasks as the Task Scheduler's work items, read back through the
// scheduler from their files; the Run value of NT 5 systems from the
// registry. Wine's scheduler stores no account, so the account is not read;
// what the task is given is: the shell's owner and the local time.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "platform/local_time.h"
#include "platform/logon_account.h"
#include "platform/scheduled_task_files.h"
#include "platform/scheduled_task_files_win_internal.h"
#include "platform/windows_api.h"
#include "support/wait.h"

namespace wardex::platform {
namespace {

using KaOSAL::KaString;
using namespace std::chrono_literals;

// Without the agent's ".exe": Wine refuses a work item's name with a dot
// (E_INVALIDARG), which Windows takes.
const KaString kName = u"Wardex Test (Wardex)";
const wchar_t kWideName[] = L"Wardex Test (Wardex)";

// In a fresh Wine prefix the Schedule service answers only some 30 s after
// the prefix was made.
uint32_t WriteOnceTheSchedulerAnswers(const TaskDefinition& definition) {
  uint32_t code = ERROR_SERVICE_NOT_ACTIVE;
  test::WaitFor(
      [&] {
        code = WriteTaskFiles(kName, definition, TaskScope::kUser);
        return code != ERROR_SERVICE_NOT_ACTIVE;
      },
      90s, 1s);
  return code;
}

struct WorkItem {
  std::wstring application, parameters, folder, comment;
  DWORD flags = 0;
  WORD triggers = 0;
  TASK_TRIGGER trigger = {};
};

std::wstring Taken(LPWSTR text) {
  std::wstring copy = text != nullptr ? text : L"";
  ::CoTaskMemFree(text);
  return copy;
}

// The work item |name| as the scheduler reads it back.
bool ReadWorkItem(const wchar_t* name, WorkItem* item) {
  ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ITaskScheduler* scheduler = nullptr;
  ITask* task = nullptr;
  ITaskTrigger* trigger = nullptr;
  LPWSTR text = nullptr;
  bool read =
      SUCCEEDED(::CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ITaskScheduler, reinterpret_cast<void**>(&scheduler))) &&
      SUCCEEDED(scheduler->Activate(name, IID_ITask, reinterpret_cast<IUnknown**>(&task)));
  read =
      read && SUCCEEDED(task->GetApplicationName(&text)) && (item->application = Taken(text), true);
  read = read && SUCCEEDED(task->GetParameters(&text)) && (item->parameters = Taken(text), true);
  read = read && SUCCEEDED(task->GetWorkingDirectory(&text)) && (item->folder = Taken(text), true);
  read = read && SUCCEEDED(task->GetComment(&text)) && (item->comment = Taken(text), true);
  read = read && SUCCEEDED(task->GetFlags(&item->flags)) &&
         SUCCEEDED(task->GetTriggerCount(&item->triggers)) &&
         SUCCEEDED(task->GetTrigger(0, &trigger)) && SUCCEEDED(trigger->GetTrigger(&item->trigger));
  for (IUnknown* held : {static_cast<IUnknown*>(trigger), static_cast<IUnknown*>(task),
                         static_cast<IUnknown*>(scheduler)}) {
    if (held != nullptr) held->Release();
  }
  ::CoUninitialize();
  return read;
}

TEST(ScheduledTaskFilesWinTest, WorkItemsHoldTheDefinitionAndAreReplacedAndRemoved) {
  using Kind = TaskTrigger::Kind;
  const TaskDate begin = {2027, 3, 17};  // a Wednesday
  // Triggers as kind, begin, hour, minute, has_end, end, weekday, interval, duration;
  // the default kind is at logon.
  const TaskTrigger repeated = {Kind::kDaily, begin, 9, 30, true, {2027, 4, 1}, 0, 60, 600};
  const TaskTrigger weekly = {Kind::kWeekly, begin, 23, 0, false, {}, 3};
  const TaskTrigger monthly = {Kind::kMonthly, begin, 1, 0, false, {}};
  const TaskTrigger once = {Kind::kOnce, begin, 12, 0, false, {}};
  const std::tuple<const char*, TaskTrigger, bool, bool, TASK_TRIGGER_TYPE, DWORD> cases[] = {
      {"at logon", {}, false, false, TASK_EVENT_TRIGGER_AT_LOGON, 0x2001},
      {"daily, disabled, repeated until an end", repeated, true, false, TASK_TIME_TRIGGER_DAILY,
       0x2005},
      {"weekly", weekly, false, false, TASK_TIME_TRIGGER_WEEKLY, 0x2001},
      {"monthly", monthly, false, false, TASK_TIME_TRIGGER_MONTHLYDATE, 0x2001},
      {"once, deleted when done", once, false, true, TASK_TIME_TRIGGER_ONCE, 0x2003},
  };
  for (const auto& [name, trigger, disabled, delete_when_done, type, flags] : cases) {
    SCOPED_TRACE(name);
    TaskDefinition definition;
    definition.program = u"C:\\Program Files\\Wardex\\Wardex.exe";
    definition.arguments = {u"-snapcheck", u"a b", u"say \"hi\"", u"end\\"};
    definition.working_folder = u"C:\\Program Files\\Wardex";
    definition.comment = kName;
    definition.trigger = trigger;
    definition.disabled = disabled;
    definition.delete_when_done = delete_when_done;
    // Each case replaces the one before under the same name.
    ASSERT_EQ(WriteOnceTheSchedulerAnswers(definition), 0u);
    EXPECT_TRUE(TaskExists(kName, TaskScope::kUser));
    WorkItem item;
    ASSERT_TRUE(ReadWorkItem(kWideName, &item));
    EXPECT_EQ(std::tie(item.application, item.parameters, item.folder, item.comment, item.flags,
                       item.triggers),
              std::make_tuple(L"\"C:\\Program Files\\Wardex\\Wardex.exe\"",
                              L"-snapcheck \"a b\" \"say \\\"hi\\\"\" end\\",
                              L"C:\\Program Files\\Wardex", kWideName, flags, 1));
    const TASK_TRIGGER& t = item.trigger;
    EXPECT_EQ(t.TriggerType, type);
    EXPECT_EQ(t.rgFlags, trigger.has_end ? TASK_TRIGGER_FLAG_HAS_END_DATE : 0u);  // enabled
    if (type == TASK_EVENT_TRIGGER_AT_LOGON) continue;
    EXPECT_EQ(std::tie(t.wBeginYear, t.wBeginMonth, t.wBeginDay, t.wStartHour, t.wStartMinute),
              std::make_tuple(2027, 3, 17, trigger.hour, trigger.minute));
    EXPECT_EQ(std::tie(t.MinutesInterval, t.MinutesDuration),
              std::make_tuple(trigger.interval_minutes, trigger.duration_minutes));
    if (trigger.has_end) {
      EXPECT_EQ(std::tie(t.wEndYear, t.wEndMonth, t.wEndDay), std::make_tuple(2027, 4, 1));
    }
    if (type == TASK_TIME_TRIGGER_DAILY) {
      EXPECT_EQ(t.Type.Daily.DaysInterval, 1);
    }
    if (type == TASK_TIME_TRIGGER_WEEKLY) {
      EXPECT_EQ(t.Type.Weekly.rgfDaysOfTheWeek, TASK_WEDNESDAY);
    }
    if (type == TASK_TIME_TRIGGER_MONTHLYDATE) {
      EXPECT_EQ(std::tie(t.Type.MonthlyDate.rgfDays, t.Type.MonthlyDate.rgfMonths),
                std::make_tuple(1u << 16, 0xFFF));
    }
  }
  // As the Schedule service does a moment after a change: the file is read
  // with no sharing; the removal waits for it.
  wchar_t windows[MAX_PATH] = {};
  ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::wstring job = std::wstring(windows) + L"\\Tasks\\" + kWideName + L".job";
  const HANDLE reader =
      CreateFileW(job.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  std::thread read_done([reader] {
    std::this_thread::sleep_for(300ms);
    CloseHandle(reader);
  });
  EXPECT_EQ(RemoveTaskFiles(kName, TaskScope::kUser), 0u);
  read_done.join();
  EXPECT_FALSE(TaskExists(kName, TaskScope::kUser));
  EXPECT_EQ(RemoveTaskFiles(kName, TaskScope::kUser), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(ScheduledTaskFilesWinTest, TheRunValueIsTheQuotedProgram) {
  const KaString name = u"Wardex Run Test (Wardex.exe)";  // not the work items'
  ASSERT_EQ(WriteRunValue(name, u"C:\\Program Files\\Wardex\\Wardex.exe", TaskScope::kUser), 0u);
  wchar_t data[MAX_PATH] = {};
  DWORD size = sizeof(data);
  ASSERT_EQ(
      ::RegGetValueW(reinterpret_cast<::HKEY>(static_cast<LONG_PTR>(LONG{-2147483647})),  // HKCU
                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                     L"Wardex Run Test (Wardex.exe)", RRF_RT_REG_SZ, nullptr, data, &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(data, L"\"C:\\Program Files\\Wardex\\Wardex.exe\"");
  EXPECT_TRUE(TaskExists(name, TaskScope::kUser));
  EXPECT_EQ(RemoveTaskFiles(name, TaskScope::kUser), 0u);
  EXPECT_FALSE(RunValueExists(name, TaskScope::kUser));
}

TEST(ScheduledTaskFilesWinTest, NamesAndTriggersTheSchedulerCannotTake) {
  EXPECT_EQ(CheckTaskName(kName), 0u);
  for (const KaString& name :
       {KaString(u""), KaString(u"a\tb"), KaString(u"a\\b"), KaString(u"a:b")}) {
    EXPECT_EQ(CheckTaskName(name), static_cast<uint32_t>(ERROR_INVALID_NAME)) << name.GetLength();
  }
  EXPECT_EQ(CheckTaskName(KaString(std::u16string(250, u'x').c_str())),
            static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE));
  using Kind = TaskTrigger::Kind;
  // Triggers as kind, begin, hour, minute, has_end, end, weekday.
  const std::tuple<const char*, TaskTrigger, bool> cases[] = {
      // servable or not
      {"29 February of a leap year", {Kind::kOnce, {2028, 2, 29}, 0, 0, false, {}}, true},
      {"29 February of another year", {Kind::kOnce, {2027, 2, 29}, 0, 0, false, {}}, false},
      {"hour 24", {Kind::kDaily, {2027, 1, 1}, 24, 0, false, {}}, false},
      {"end before begin", {Kind::kDaily, {2027, 1, 2}, 0, 0, true, {2027, 1, 1}}, false},
      {"weekday 7", {Kind::kWeekly, {2027, 1, 1}, 0, 0, false, {}, 7}, false},
      {"logon needs no date", {}, true},  // the kind by default
  };
  for (const auto& [name, trigger, servable] : cases) {
    EXPECT_EQ(IsServableTrigger(trigger), servable) << name;
  }
}

TEST(ScheduledTaskFilesWinTest, TheLogonAccountIsTheShellsOwnerAndTimesAreLocal) {
  // Wine's desktop process is an explorer.exe of this user, started for the
  // first window of a session.
  ::DestroyWindow(
      ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
  const LogonAccount found = FindGraphicalLogonAccount();
  ASSERT_EQ(found.failure, LogonAccount::Failure::kNone) << found.error;
  wchar_t user[256];
  DWORD length = 256;
  ASSERT_TRUE(::GetUserNameW(user, &length));
  const std::wstring account = reinterpret_cast<const wchar_t*>(found.account.c_str());
  EXPECT_GT(account.size(), length);
  EXPECT_TRUE(account.ends_with(std::wstring(L"\\") + user)) << found.account.GetLength();

  LocalCalendarTime local{};
  // 2027-03-17 12:00:05 UTC, a Wednesday at noon: the same day in every zone.
  ASSERT_TRUE(ToLocalCalendarTime(1805284805, &local));
  EXPECT_EQ(std::tie(local.year, local.month, local.day, local.weekday, local.second),
            std::make_tuple(2027, 3, 17, 3, 5));
  EXPECT_FALSE(ToLocalCalendarTime(-11644473600 - 86400, &local));  // before 1601
}

}  // namespace
}  // namespace wardex::platform
