#include "app/autostart.h"

#include "app/task.h"
#include "config/placeholders.h"
#include "osal/ka_path.h"
#include "osal/last_error.h"
#include "platform/clock.h"
#include "platform/scheduled_task_files.h"
#include "platform/system_paths.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

using KaOSAL::KaString;

// The entry that stands for the Run value: the quoted program, nothing more.
bool WriteRunEntry(const KaString& name) {
  platform::TaskDefinition definition;
  definition.program = platform::GetExecutableFilePath();
  const uint32_t code = platform::WriteTaskFiles(name, definition, platform::DefaultTaskScope());
  if (code != 0) {
    LogW(kLogSysFail, u"Error: InstallAutostart() \"%s\" - failed to write the autostart entry: %u",
         name.c_str(), code);
  }
  return code == 0;
}

bool RemoveRunEntry(const KaString& name) {
  const uint32_t code = platform::RemoveTaskFiles(name, platform::DefaultTaskScope());
  if (code != 0) {
    LogW(kLogSysFail, u"Error: RemoveAutostart() \"%s\" - failed to remove the autostart entry: %u",
         name.c_str(), code);
  }
  return code == 0;
}

}  // namespace

bool InstallAutostart(const KaString& name, const KaString& description) {
  if (!platform::TaskSchedulerPresent()) return WriteRunEntry(name);
  static_cast<void>(CTask::DeleteTask(name));
  const KaString program = platform::GetExecutableFilePath();
  const int64_t now = platform::CurrentWallClock().seconds;
  CTask task;
  task.SetProgram(program);
  task.SetStartingDir(KaOSAL::KaPath(program).GetRootAndDir());
  task.SetAccountToLogonUser();
  task.SetRunOnlyIfLoggedOn(true);
  task.SetComment(description);
  task.SetFrequency(CTask::kAtLogon);
  task.SetStartDate(now);
  task.SetStartTime(now);
  return task.SaveTask(name, false, false, false) >= 0;
}

bool AutostartInstalled(const KaString& name) {
  return platform::TaskExists(name, platform::DefaultTaskScope());
}

KaString AutostartEntryName() {
  KaString name = u"%pro1% (Wardex.exe)";
  ExpandPlaceholders(name);
  return name;
}

bool RemoveAutostart(const KaString& name) {
  if (!platform::TaskSchedulerPresent()) return RemoveRunEntry(name);
  return CTask::DeleteTask(name) >= 0;
}

}  // namespace wardex
