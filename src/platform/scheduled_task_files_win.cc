// Scheduled tasks on Windows: work items of the Task Scheduler 1.0
// (ITaskScheduler, ITask, ITaskTrigger, saved through IPersistFile as
// Tasks\<name>.job), one folder for the machine whatever the scope. On NT 5
// systems the autostart entry is a value under the Run key instead: the
// machine's for the administrator, the user's for everyone else.
#include <algorithm>
#include <string>
#include <tuple>

#include "osal/last_error.h"
#include "platform/command_line.h"
#include "platform/scheduled_task_files.h"
#include "platform/scheduled_task_files_win_internal.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

using KaOSAL::KaString;

constexpr DWORD kStringValue = 1;  // REG_SZ, whose name is our registry's
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// The characters a work item's file name cannot hold.
constexpr char16_t kNotInFileName[] = u"\\/:*?\"<>|";

const wchar_t* Wide(const KaString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

bool HasControlCharacter(const KaString& text) {
  for (int i = 0; i < text.GetLength(); ++i) {
    if (text[i] < 0x20 || text[i] == 0x7F) return true;
  }
  return false;
}

// The Win32 code for |result|; the scheduler's own codes have none.
uint32_t Win32Code(HRESULT result) {
  if (SUCCEEDED(result)) return 0;
  if (HRESULT_FACILITY(result) == FACILITY_WIN32) return HRESULT_CODE(result);
  if (result == SCHED_E_SERVICE_NOT_RUNNING) return ERROR_SERVICE_NOT_ACTIVE;
  return ERROR_GEN_FAILURE;
}

// COM for the calling thread, for as long as the object lives; a thread
// that already has it in the other model keeps it.
class ComScope {
 public:
  ComScope() : result_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

// Releases an interface pointer at the end of its scope.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  Interface* operator->() const { return pointer_; }
  Interface** out() { return &pointer_; }
  void** out_void() { return reinterpret_cast<void**>(&pointer_); }

 private:
  Interface* pointer_ = nullptr;
};

// The Task Scheduler, or the failure's code.
HRESULT OpenScheduler(ComPtr<ITaskScheduler>& scheduler) {
  return ::CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                            scheduler.out_void());
}

KaString Parameters(const TaskDefinition& definition) {
  std::u16string parameters;
  for (const KaString& argument : definition.arguments) {
    if (!parameters.empty()) parameters += u' ';
    parameters += QuoteArgument(argument).c_str();
  }
  return KaString(parameters.c_str());
}

TASK_TRIGGER SystemTrigger(const TaskTrigger& trigger) {
  TASK_TRIGGER system = {};
  system.cbTriggerSize = sizeof(system);
  system.wBeginYear = static_cast<WORD>(trigger.begin.year);
  system.wBeginMonth = static_cast<WORD>(trigger.begin.month);
  system.wBeginDay = static_cast<WORD>(trigger.begin.day);
  system.wStartHour = static_cast<WORD>(trigger.hour);
  system.wStartMinute = static_cast<WORD>(trigger.minute);
  if (trigger.has_end) {
    system.wEndYear = static_cast<WORD>(trigger.end.year);
    system.wEndMonth = static_cast<WORD>(trigger.end.month);
    system.wEndDay = static_cast<WORD>(trigger.end.day);
    system.rgFlags = TASK_TRIGGER_FLAG_HAS_END_DATE;
  }
  system.MinutesDuration = trigger.duration_minutes;
  system.MinutesInterval = trigger.interval_minutes;
  switch (trigger.kind) {
    case TaskTrigger::Kind::kOnce:
      system.TriggerType = TASK_TIME_TRIGGER_ONCE;
      break;
    case TaskTrigger::Kind::kDaily:
      system.TriggerType = TASK_TIME_TRIGGER_DAILY;
      system.Type.Daily.DaysInterval = 1;
      break;
    case TaskTrigger::Kind::kWeekly:
      system.TriggerType = TASK_TIME_TRIGGER_WEEKLY;
      system.Type.Weekly.WeeksInterval = 1;
      system.Type.Weekly.rgfDaysOfTheWeek = static_cast<WORD>(TASK_SUNDAY << trigger.weekday);
      break;
    case TaskTrigger::Kind::kMonthly:
      system.TriggerType = TASK_TIME_TRIGGER_MONTHLYDATE;
      system.Type.MonthlyDate.rgfDays = 1u << (trigger.begin.day - 1);
      system.Type.MonthlyDate.rgfMonths = 0xFFF;  // all twelve
      break;
    case TaskTrigger::Kind::kAtLogon:
      system.TriggerType = TASK_EVENT_TRIGGER_AT_LOGON;
      // The scheduler takes no trigger without a begin date: a logon task
      // given none begins today.
      if (system.wBeginYear == 0) {
        SYSTEMTIME today;
        ::GetLocalTime(&today);
        system.wBeginYear = today.wYear;
        system.wBeginMonth = today.wMonth;
        system.wBeginDay = today.wDay;
      }
      break;
  }
  return system;
}

// The Schedule service reads a work item's file when it changes, and a save
// or a delete fails with a sharing violation while it does: for a moment, so
// such a step is tried again, for a second at most.
template <typename FileStep>
HRESULT OnceTheServiceLetsGo(FileStep step) {
  HRESULT result = step();
  for (int retry = 0; retry < 20 && result == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
       ++retry) {
    Sleep(50);
    result = step();
  }
  return result;
}

// Saves |definition| as the new work item |name| (none of that name exists).
HRESULT SaveWorkItem(ITaskScheduler* scheduler, const KaString& name,
                     const TaskDefinition& definition) {
  ComPtr<ITask> task;
  HRESULT result = scheduler->NewWorkItem(Wide(name), CLSID_CTask, IID_ITask,
                                          reinterpret_cast<IUnknown**>(task.out()));
  if (FAILED(result)) return result;
  // The program in quotation marks, as the agent has always registered it.
  const KaString program = u"\"" + definition.program + u"\"";
  if (FAILED(result = task->SetApplicationName(Wide(program)))) return result;
  if (FAILED(result = task->SetParameters(Wide(Parameters(definition))))) return result;
  if (FAILED(result = task->SetWorkingDirectory(Wide(definition.working_folder)))) return result;
  if (FAILED(result = task->SetComment(Wide(definition.comment)))) return result;
  DWORD flags = TASK_FLAG_RUN_ONLY_IF_LOGGED_ON | TASK_FLAG_INTERACTIVE;
  if (definition.disabled) flags |= TASK_FLAG_DISABLED;
  if (definition.delete_when_done) flags |= TASK_FLAG_DELETE_WHEN_DONE;
  if (FAILED(result = task->SetFlags(flags))) return result;
  // Run only while that user is logged on: no password is stored.
  if (FAILED(result = task->SetAccountInformation(Wide(definition.user), nullptr))) return result;
  WORD index = 0;
  ComPtr<ITaskTrigger> trigger;
  if (FAILED(result = task->CreateTrigger(&index, trigger.out()))) return result;
  TASK_TRIGGER system = SystemTrigger(definition.trigger);
  if (FAILED(result = trigger->SetTrigger(&system))) return result;
  ComPtr<IPersistFile> file;
  if (FAILED(result = task->QueryInterface(IID_IPersistFile, file.out_void()))) return result;
  return OnceTheServiceLetsGo([&file] { return file->Save(nullptr, TRUE); });
}

// HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER (their names are our registry's).
::HKEY RunKeyRoot(TaskScope scope) {
  const LONG root = static_cast<LONG>(scope == TaskScope::kMachine ? 0x80000002u : 0x80000001u);
  return reinterpret_cast<::HKEY>(static_cast<LONG_PTR>(root));
}

bool IsCalendarDate(const TaskDate& date) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (date.year < 1601 || date.year > 9999 || date.month < 1 || date.month > 12) return false;
  const bool leap = (date.year % 4 == 0 && date.year % 100 != 0) || date.year % 400 == 0;
  const int days = date.month == 2 && !leap ? 28 : kDays[date.month - 1];
  return date.day >= 1 && date.day <= days;
}

bool Before(const TaskDate& a, const TaskDate& b) {
  return std::tie(a.year, a.month, a.day) < std::tie(b.year, b.month, b.day);
}

}  // namespace

uint32_t WriteRunValue(const KaString& name, const KaString& program, TaskScope scope) {
  const KaString data = u"\"" + program + u"\"";
  const auto bytes = static_cast<DWORD>((data.GetLength() + 1) * sizeof(char16_t));
  return ::RegSetKeyValueW(RunKeyRoot(scope), kRunKey, Wide(name), kStringValue, Wide(data), bytes);
}

uint32_t RemoveRunValue(const KaString& name, TaskScope scope) {
  return ::RegDeleteKeyValueW(RunKeyRoot(scope), kRunKey, Wide(name));
}

bool RunValueExists(const KaString& name, TaskScope scope) {
  return ::RegGetValueW(RunKeyRoot(scope), kRunKey, Wide(name), RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

TaskScope DefaultTaskScope() { return ::IsUserAnAdmin() ? TaskScope::kMachine : TaskScope::kUser; }

bool TaskSchedulerPresent() {
  // The workstation's version: NT 5 (2000, XP, Server 2003) keeps the
  // autostart entry under the Run key; later systems, and an unanswered
  // question, have the scheduler do it.
  WKSTA_INFO_100* info = nullptr;
  if (::NetWkstaGetInfo(nullptr, 100, reinterpret_cast<BYTE**>(&info)) != NERR_Success) return true;
  const bool nt5 = info->wki100_ver_major == 5;
  ::NetApiBufferFree(info);
  return !nt5;
}

uint32_t CheckTaskName(const KaString& name) {
  const std::u16string text = name.c_str();
  if (text.empty() || HasControlCharacter(name) ||
      text.find_first_of(kNotInFileName) != std::u16string::npos) {
    return ERROR_INVALID_NAME;
  }
  // The work item's file, Tasks\<name>.job in the Windows folder, must fit
  // a path.
  wchar_t windows[MAX_PATH];
  const UINT folder = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (folder + text.size() + std::size(L"\\Tasks\\.job") > MAX_PATH)
    return ERROR_FILENAME_EXCED_RANGE;
  return 0;
}

bool IsWritableTaskText(const KaString& text) { return !HasControlCharacter(text); }

bool IsServableTrigger(const TaskTrigger& trigger) {
  if (trigger.kind == TaskTrigger::Kind::kAtLogon) return true;
  return IsCalendarDate(trigger.begin) && trigger.hour >= 0 && trigger.hour < 24 &&
         trigger.minute >= 0 && trigger.minute < 60 &&
         (!trigger.has_end ||
          (IsCalendarDate(trigger.end) && !Before(trigger.end, trigger.begin))) &&
         (trigger.kind != TaskTrigger::Kind::kWeekly ||
          (trigger.weekday >= 0 && trigger.weekday < 7));
}

bool TaskExists(const KaString& name, TaskScope scope) {
  if (RunValueExists(name, scope)) return true;
  ComScope com;
  ComPtr<ITaskScheduler> scheduler;
  if (!com.usable() || FAILED(OpenScheduler(scheduler))) return false;
  ComPtr<IUnknown> item;
  return SUCCEEDED(scheduler->Activate(Wide(name), IID_ITask, item.out()));
}

uint32_t WriteTaskFiles(const KaString& name, const TaskDefinition& definition, TaskScope scope) {
  if (definition.trigger.kind == TaskTrigger::Kind::kAtLogon && !TaskSchedulerPresent()) {
    return WriteRunValue(name, definition.program, scope);
  }
  ComScope com;
  if (!com.usable()) return Win32Code(com.result());
  ComPtr<ITaskScheduler> scheduler;
  HRESULT result = OpenScheduler(scheduler);
  if (FAILED(result)) return Win32Code(result);
  // A task of that name is replaced (the scheduler would keep both).
  ComPtr<IUnknown> existing;
  if (SUCCEEDED(scheduler->Activate(Wide(name), IID_ITask, existing.out())) &&
      FAILED(result = OnceTheServiceLetsGo([&] { return scheduler->Delete(Wide(name)); }))) {
    return Win32Code(result);
  }
  result = SaveWorkItem(scheduler.operator->(), name, definition);
  // A half-made work item is none: nothing of it stays behind.
  if (FAILED(result)) static_cast<void>(scheduler->Delete(Wide(name)));
  return Win32Code(result);
}

uint32_t RemoveTaskFiles(const KaString& name, TaskScope scope) {
  const uint32_t run_value =
      RunValueExists(name, scope) ? RemoveRunValue(name, scope) : ERROR_FILE_NOT_FOUND;
  ComScope com;
  ComPtr<ITaskScheduler> scheduler;
  if (!com.usable()) return run_value == ERROR_FILE_NOT_FOUND ? Win32Code(com.result()) : run_value;
  HRESULT result = OpenScheduler(scheduler);
  if (SUCCEEDED(result)) {
    result = OnceTheServiceLetsGo([&] { return scheduler->Delete(Wide(name)); });
  }
  const uint32_t work_item = Win32Code(result);
  // Either gone is success; a failure counts when the other had nothing.
  if (run_value == 0 || work_item == 0) return 0;
  return run_value != ERROR_FILE_NOT_FOUND ? run_value : work_item;
}

}  // namespace wardex::platform
