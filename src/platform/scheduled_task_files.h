// The files that stand for a scheduled task, written for the system's
// scheduler: a task that runs at logon, or one with a dated trigger. A user's
// own tasks are the user's; the administrator's are machine-wide.
//
// Linux: an XDG autostart entry for a logon task, a systemd user timer with
// its service for a dated one (scheduled_task_files_linux.h has their names).
#pragma once

#include <cstdint>
#include <vector>

#include "osal/ka_string.h"

namespace wardex::platform {

enum class TaskScope {
  kUser,     // Linux: $XDG_CONFIG_HOME/autostart, $XDG_CONFIG_HOME/systemd/user
  kMachine,  // Linux: etc/xdg/autostart, etc/systemd/user below the machine root
};

// The administrator registers for the machine, everyone else for themselves.
[[nodiscard]] TaskScope DefaultTaskScope();

// True when the machine's scheduler is there to serve dated triggers (Linux:
// systemd runs, its folder run/systemd/system exists below the machine root).
[[nodiscard]] bool TaskSchedulerPresent();

struct TaskDate {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;    // 1 to 31
};

struct TaskTrigger {
  enum class Kind { kOnce, kDaily, kWeekly, kMonthly, kAtLogon };
  Kind kind = Kind::kAtLogon;
  TaskDate begin;
  int hour = 0;
  int minute = 0;
  bool has_end = false;
  TaskDate end;     // inclusive
  int weekday = 0;  // 0 Sunday to 6 Saturday, for kWeekly
  // Runs again every |interval_minutes| for |duration_minutes| after each
  // start, within the start's day.
  uint32_t interval_minutes = 0;
  uint32_t duration_minutes = 0;
};

struct TaskDefinition {
  KaOSAL::KaString program;  // full path, without quotation marks
  std::vector<KaOSAL::KaString> arguments;
  KaOSAL::KaString working_folder;  // may be empty
  KaOSAL::KaString comment;         // may be empty
  // The user whose logon the machine-wide timer is tied to; empty for any.
  KaOSAL::KaString user;
  bool disabled = false;
  bool delete_when_done = false;
  TaskTrigger trigger;
};

// 0 when |name| can name a task's files; else the Win32 code: 123 (invalid
// name) for an empty name or one with control characters, 206 (file name too
// long) when the scheduler cannot take a name that long (Linux: its escaped
// form as a unit name).
[[nodiscard]] uint32_t CheckTaskName(const KaOSAL::KaString& name);
// True when |text| can be written into a task's files: no control characters.
[[nodiscard]] bool IsWritableTaskText(const KaOSAL::KaString& text);

// True when the scheduler can serve |trigger|: a logon trigger, or a valid
// time of day, a begin date within the scheduler's calendar, an end date not
// before it, a weekday for a weekly trigger.
[[nodiscard]] bool IsServableTrigger(const TaskTrigger& trigger);

// True when any file of the task |name| exists in |scope|.
[[nodiscard]] bool TaskExists(const KaOSAL::KaString& name, TaskScope scope);

// Writes the task's files in |scope|, replacing a task of the same name, and
// enables a dated task unless it is disabled (Linux: the timer's link, and the
// user's service manager is told where one is reachable). A failure removes
// what this call wrote. Returns 0 or the Win32 code of the failure: 161 (bad
// path name), logged, where the logon session would read the program or its
// arguments differently than written (Linux: a backslash, "$" or "`" in an
// autostart entry).
[[nodiscard]] uint32_t WriteTaskFiles(const KaOSAL::KaString& name,
                                      const TaskDefinition& definition, TaskScope scope);

// Removes every file of the task |name| in |scope|. Returns 0, 2 (file not
// found) when there was none, or the Win32 code of the failure.
[[nodiscard]] uint32_t RemoveTaskFiles(const KaOSAL::KaString& name, TaskScope scope);

}  // namespace wardex::platform
