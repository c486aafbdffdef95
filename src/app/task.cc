#include "app/task.h"

#include <vector>

#include "osal/civil_date.h"
#include "platform/clock.h"
#include "platform/command_line.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/logon_account.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

using KaOSAL::KaString;
using platform::TaskTrigger;

constexpr char16_t kPasswordMask[] = u"*********";
// TASK_FLAG_INTERACTIVE, TASK_FLAG_DELETE_WHEN_DONE, TASK_FLAG_DISABLED,
// TASK_FLAG_RUN_ONLY_IF_LOGGED_ON: what the saved files carry out.
constexpr uint32_t kFlagInteractive = 0x1;
constexpr uint32_t kFlagDeleteWhenDone = 0x2;
constexpr uint32_t kFlagDisabled = 0x4;
constexpr uint32_t kFlagRunOnlyIfLoggedOn = 0x2000;

// The weekday (0 Sunday) of a Gregorian date, or -1 for no valid date.
int WeekdayOf(int year, int month, int day) {
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > 31) return -1;
  static constexpr int kMonthOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return (year + year / 4 - year / 100 + year / 400 + kMonthOffsets[month - 1] + day) % 7;
}

TaskTime CurrentTaskTime() {
  // The scheduler's initial start is the current time in UTC.
  const platform::WallClock now = platform::CurrentWallClock();
  const int64_t days = now.seconds >= 0 ? now.seconds / 86400 : (now.seconds - 86399) / 86400;
  const int64_t second_of_day = now.seconds - days * 86400;
  const KaOSAL::CivilDate date = KaOSAL::CivilFromDays(days);
  TaskTime time;
  time.year = static_cast<int>(date.year);
  time.month = static_cast<int>(date.month);
  time.day = static_cast<int>(date.day);
  time.day_of_week = WeekdayOf(time.year, time.month, time.day);
  time.hour = static_cast<int>(second_of_day / 3600);
  time.minute = static_cast<int>(second_of_day / 60 % 60);
  time.second = static_cast<int>(second_of_day % 60);
  time.milliseconds = static_cast<int>(now.milliseconds);
  return time;
}

// The program path without the quotation marks that SetProgram added.
KaString Unquoted(const KaString& program) {
  if (program.GetLength() >= 2 && program[0] == u'"' && program[program.GetLength() - 1] == u'"') {
    return program.Mid(1, program.GetLength() - 2);
  }
  return program;
}

// The parameters' words, split as a Windows program would split them.
std::vector<KaString> ParameterWords(const KaString& parameters) {
  // The splitter reads a whole command line; a stand-in program name leads.
  std::vector<KaString> words = platform::SplitCommandLine(u"p " + parameters);
  if (!words.empty()) words.erase(words.begin());
  return words;
}

// Logs the failure of a SaveTask step and returns its code.
HRESULT SaveFailed(const char16_t* format, const KaString& name, HRESULT code) {
  LogW(kLogError, format, name.c_str(), static_cast<uint32_t>(code));
  return code;
}

HRESULT SaveFailed(const char16_t* format, const KaString& name, const KaString& value,
                   HRESULT code) {
  LogW(kLogError, format, name.c_str(), value.c_str(), static_cast<uint32_t>(code));
  return code;
}

// Stores |text| in |field|; an empty text logs |warning| and empties it.
void StoreTextOrWarn(const KaString& text, const char16_t* warning, KaString* field) {
  if (text.IsEmpty()) LogW(kLogError, warning);
  *field = text;
}

// What the log says after the scheduler's class was not found, line by line.
constexpr const char16_t* kClassNotRegisteredExplained[] = {
    u"    The error was REGDB_E_CLASSNOTREG, meaning you don't have the scheduler installed.",
    u"    If you are running 95 or NT 4 with IE 4, you must install the task scheduler from the",
    u"    IE components install page on MS's web site or the IE CD.",
    u"    If you're on 98, NT 5, or 95/NT 4 with IE 5, then something's wrong with your install",
    u"    because the scheduler should always be present.",
    u"    Note that this class does *NOT* work with the \"AT\" service, which is the default.",
    u"    scheduler on NT 4 and earlier.",
};

}  // namespace

CTask::CTask() : start_(CurrentTaskTime()) {}

void CTask::SetProgram(const KaString& path) {
  if (path.IsEmpty() || !platform::FileExists(path)) {
    LogW(kLogError, u"Warning: CTask::SetProgram(%s) - program not found", path.c_str());
    program_.Empty();
    return;
  }
  program_ = path;
  if (program_[0] != u'"') program_ = u"\"" + program_;
  if (program_.GetLength() < 2 || program_[program_.GetLength() - 1] != u'"') program_ += u'"';
}

void CTask::SetStartingDir(const KaString& folder) {
  StoreTextOrWarn(folder, u"Warning: CTask::SetStartingDir() - invalid parameter",
                  &starting_folder_);
}

void CTask::SetComment(const KaString& comment) {
  StoreTextOrWarn(comment, u"Warning: CTask::SetComment() - invalid parameter", &comment_);
}

void CTask::SetFrequency(uint32_t frequency) {
  if (frequency > kAtLogon) {
    LogW(kLogError, u"Error: CTask::SetFrequency(%d) - invalid parameter", frequency);
    return;
  }
  frequency_ = frequency;
}

void CTask::SetStartDate(int64_t seconds) {
  start_ = TaskTime{};
  platform::LocalCalendarTime local{};
  if (!platform::ToLocalCalendarTime(seconds, &local)) {
    LogW(kLogError, u"Error: CTask::SetStartDate(CTime) - missing parameter");
    return;
  }
  start_.year = local.year;
  start_.month = local.month;
  start_.day = local.day;
}

void CTask::SetStartTime(int64_t seconds) {
  platform::LocalCalendarTime local{};
  const bool converted = platform::ToLocalCalendarTime(seconds, &local);
  if (converted && local.hour == 0) {
    LogW(kLogError, u"Error: CTask::SetStartTime(CTime) - missing valid parameter");
    start_.hour = 0;
    start_.minute = 0;
  } else {
    start_.hour = converted ? local.hour : -1;
    start_.minute = converted ? local.minute : -1;
  }
  start_.second = 0;
}

void CTask::SetAccountToLogonUser() {
  const platform::LogonAccount found = platform::FindGraphicalLogonAccount();
  switch (found.failure) {
    case platform::LogonAccount::Failure::kNone:
      LogW(kLogTaskStep, u"Success: CTask::GetCurrentLogonAccount() - found account \"%s\"",
           found.account.c_str());
      account_ = found.account;
      return;
    case platform::LogonAccount::Failure::kNoGraphicalSession:
      LogW(kLogError,
           u"Error: CTask::GetCurrentLogonAccount() - GetProcessIdFromName failed: 0x%08X",
           found.error);
      return;
    case platform::LogonAccount::Failure::kSessionUser:
      LogW(kLogError, u"Error: CTask::GetCurrentLogonAccount() - OpenProcess failed: 0x%08X",
           found.error);
      return;
    case platform::LogonAccount::Failure::kAccountName:
      LogW(kLogError, u"Error: CTask::GetCurrentLogonAccount() - LookupAccountSid failed: 0x%08X",
           found.error);
      return;
  }
}

bool CTask::OpenTaskScheduler(const KaString& name, platform::TaskScope* scheduler) {
  if (name.IsEmpty() || scheduler == nullptr) {
    LogW(kLogError, u"Error: CTask::OpenTaskScheduler() - invalid Parameter");
    return false;
  }
  // Without systemd there is no scheduler for dated triggers: the class of
  // the Task Scheduler is "not registered".
  if (!platform::TaskSchedulerPresent()) {
    LogW(kLogError,
         u"Error: CTask::OpenTaskScheduler() \"%s\" - failed to CoCreateInstance of "
         u"CLSID_CTaskScheduler. hr=0x%08X",
         name.c_str(), static_cast<uint32_t>(kHResultClassNotRegistered));
    for (const char16_t* line : kClassNotRegisteredExplained) LogW(kLogError, u"%s", line);
    return false;
  }
  *scheduler = platform::DefaultTaskScope();
  return true;
}

HRESULT CTask::DeleteTask(const KaString& name) {
  platform::TaskScope scope{};
  if (!OpenTaskScheduler(name, &scope)) return kHResultFail;
  const uint32_t name_error = platform::CheckTaskName(name);
  const HRESULT result =
      HResultFromWin32(name_error != 0 ? name_error : platform::RemoveTaskFiles(name, scope));
  if (result < 0)
    SaveFailed(u"Error: CTask::DeleteTask() \"%s\" - failed to Delete. hr=0x%08X", name, result);
  return result;
}

HRESULT CTask::SaveTask(const KaString& name, bool fail_if_exists, bool disabled,
                        bool delete_when_done) const {
  platform::TaskScope scope{};
  if (!OpenTaskScheduler(name, &scope)) return kHResultFail;
  // An existing task is replaced, or kept when asked to fail.
  if (platform::TaskExists(name, scope)) {
    if (fail_if_exists) {
      LogW(kLogNotable,
           u"Warning: CTask::SaveTask() \"%s\" - A task with the given name already exists.",
           name.c_str());
      return kHResultFileExists;
    }
    const HRESULT deleted = DeleteTask(name);
    if (deleted < 0) {
      LogW(kLogError, u"Error: CTask::SaveTask couldn't delete existing task! Bailing out!");
      return deleted;
    }
  }
  // The work item: its name must make file names.
  if (const uint32_t name_error = platform::CheckTaskName(name); name_error != 0) {
    return SaveFailed(
        u"Error: CTask::SaveTask() \"%s\" - couldn't create a new work item. hr=0x%08X", name,
        HResultFromWin32(name_error));
  }
  platform::TaskDefinition definition;
  definition.program = Unquoted(program_);
  if (definition.program.IsEmpty() || !platform::IsWritableTaskText(definition.program)) {
    return SaveFailed(
        u"Error: CTask::SaveTask() \"%s\" - failed to SetApplicationName (%s). hr=0x%08X", name,
        program_, kHResultInvalidArgument);
  }
  if (!parameters_.IsEmpty()) {
    definition.arguments = ParameterWords(parameters_);
    if (!platform::IsWritableTaskText(parameters_)) {
      return SaveFailed(
          u"Error: CTask::SaveTask() \"%s\" - failed to SetParameters (%s). hr=0x%08X", name,
          parameters_, kHResultInvalidArgument);
    }
  }
  if (!starting_folder_.IsEmpty()) {
    if (starting_folder_[0] != u'/' || !platform::IsWritableTaskText(starting_folder_)) {
      return SaveFailed(
          u"Error: CTask::SaveTask() \"%s\" - failed to SetWorkingDirectory (%s). hr=0x%08X", name,
          starting_folder_, kHResultInvalidArgument);
    }
    definition.working_folder = starting_folder_;
  }
  // The flags. Run-only-if-logged-on and interactive are what user units
  // and autostart entries are anyway: they run in the user's logon.
  const uint32_t flags = (run_only_if_logged_on_ ? kFlagRunOnlyIfLoggedOn : 0) |
                         (nt_family_ ? kFlagInteractive : 0) | (disabled ? kFlagDisabled : 0) |
                         (delete_when_done ? kFlagDeleteWhenDone : 0);
  definition.disabled = (flags & kFlagDisabled) != 0;
  definition.delete_when_done = (flags & kFlagDeleteWhenDone) != 0;
  // The account: a machine-wide timer runs in that user's logon only.
  if (nt_family_) {
    definition.user = AccountUser();
    LogW(kLogTaskStep, u"Succeeded: CTask::SaveTask() \"%s\" - SetAccountInformation Usr: %s Pw:%s",
         name.c_str(), account_.c_str(), kPasswordMask);
  }
  // A comment that cannot be written is left out; saving goes on.
  if (!comment_.IsEmpty()) {
    if (platform::IsWritableTaskText(comment_) && comment_[comment_.GetLength() - 1] != u'\\') {
      definition.comment = comment_;
    } else {
      SaveFailed(u"Error: CTask::SaveTask() \"%s\" - failed to SetComment (%s). hr=0x%08X", name,
                 comment_, kHResultInvalidArgument);
    }
  }
  definition.trigger = Trigger();
  if (!platform::IsServableTrigger(definition.trigger)) {
    return SaveFailed(u"Error: CTask::SaveTask() \"%s\" - failed to SetTrigger. hr=0x%08X", name,
                      kHResultInvalidArgument);
  }
  // The files, all or none.
  const uint32_t written = platform::WriteTaskFiles(name, definition, scope);
  if (written != 0) {
    return SaveFailed(u"Error: CTask::SaveTask() \"%s\" - failed to Save(). hr=0x%08X", name,
                      HResultFromWin32(written));
  }
  return 0;
}

TaskTrigger CTask::Trigger() const {
  TaskTrigger trigger;
  switch (frequency_) {
    case 0:
    case kOnce:
      trigger.kind = TaskTrigger::Kind::kOnce;
      break;
    case kDaily:
      trigger.kind = TaskTrigger::Kind::kDaily;
      break;
    case kWeekly:
      trigger.kind = TaskTrigger::Kind::kWeekly;
      break;
    case kMonthly:
      trigger.kind = TaskTrigger::Kind::kMonthly;
      break;
    default:
      trigger.kind = TaskTrigger::Kind::kAtLogon;
      break;
  }
  trigger.begin = {start_.year, start_.month, start_.day};
  trigger.hour = start_.hour;
  trigger.minute = start_.minute;
  trigger.has_end = end_.year > 1970;
  trigger.end = {end_.year, end_.month, end_.day};
  trigger.weekday = WeekdayOf(start_.year, start_.month, start_.day);
  trigger.interval_minutes = minutes_interval_;
  trigger.duration_minutes = minutes_duration_;
  return trigger;
}

KaString CTask::AccountUser() const {
  const int separator = account_.ReverseFind(u'\\');
  return separator < 0 ? account_ : account_.Mid(separator + 1);
}

}  // namespace wardex
