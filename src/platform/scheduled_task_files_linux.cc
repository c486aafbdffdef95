#include "platform/scheduled_task_files_linux.h"
#include "platform/scheduled_task_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/atomic_file_posix.h"
#include "platform/create_folder.h"
#include "platform/file_system.h"
#include "platform/system_paths_linux.h"
#include "platform/user_manager_linux.h"
#include "wardex/crashlog.h"

namespace wardex::platform {
namespace {

using KaOSAL::KaString;

// A unit name has at most 255 characters; the longest suffix is ".service"
// (".desktop" is as long), so the escaped name may have 247.
constexpr size_t kMaxEscapedName = 255 - 8;
// systemd's calendar reaches no further than this year.
constexpr int kLastCalendarYear = 2199;
constexpr int kMinutesPerDay = 24 * 60;
constexpr uint32_t kErrorBadPathName = 161;  // ERROR_BAD_PATHNAME
// Entries and units are read by every user's session, whatever the umask.
constexpr int kFileMode = 0644;
constexpr const char* kEnvProgram = "/usr/bin/env";
// A logon session starts an autostart entry through GLib (gnome-session and
// others) or, under systemd, through systemd-xdg-autostart-generator, which
// carries a backslash, "$" and "`" into its unit so that systemd reads them
// otherwise than GLib does: no entry can name such a word for both.
constexpr char kUnstartableAtLogon[] = "\\$`";
// Both look the program up before "%%" becomes "%", and systemd starts no
// program whose path has a quote: such a program is started through env.
constexpr char kProgramThroughEnv[] = "%\"'";
// The generator writes Path= into the unit as it stands, "%" and the
// backslash included, which the unit reads as specifiers and escapes.
constexpr char kUnwritablePath[] = "%\\";
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

std::string Utf8(const KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

KaString Wide(const std::string& text) {
  const std::u16string wide = KaOSAL::FromUtf8(text);
  return KaString(wide.c_str(), static_cast<int>(wide.size()));
}

// Returns the folder of the autostart entries for |scope|.
std::string AutostartFolder(TaskScope scope) {
  return Utf8(scope == TaskScope::kUser ? GetUserConfigFolder() + u"/autostart"
                                        : GetMachinePath(u"etc/xdg/autostart"));
}

// Returns the folder of the user units for |scope|.
std::string UnitFolder(TaskScope scope) {
  return Utf8(scope == TaskScope::kUser ? GetUserConfigFolder() + u"/systemd/user"
                                        : GetMachinePath(u"etc/systemd/user"));
}

std::string WantsFolder(TaskScope scope) { return UnitFolder(scope) + "/timers.target.wants"; }

bool HasControlCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// A string value of a desktop entry: backslashes doubled, a leading blank
// written as \s so that it is not taken for the blank after "=".
std::string DesktopString(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  if (!escaped.empty() && escaped[0] == ' ') escaped.replace(0, 1, "\\s");
  return escaped;
}

// One argument of a desktop entry's Exec=, always quoted, with the quoting
// rule's escapes and "%" doubled so that it is no field code.
std::string DesktopExecArgument(const std::string& argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

// "%" starts a specifier in a unit file.
std::string UnitText(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '%') escaped += '%';
    escaped += c;
  }
  return escaped;
}

// One argument of a unit's ExecStart=, quoted, with C escapes for quotes and
// backslashes, "%" doubled (specifiers) and "$" doubled (variables).
std::string UnitExecArgument(const std::string& argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '\\') quoted += '\\';
    if (c == '%' || c == '$') quoted += c;
    quoted += c;
  }
  return quoted + "\"";
}

// Exec=: every word quoted by the Desktop Entry rules.
std::string DesktopCommandLine(const TaskDefinition& definition) {
  const std::string program = Utf8(definition.program);
  std::string line = program.find_first_of(kProgramThroughEnv) == std::string::npos
                         ? DesktopExecArgument(program)
                         : kEnvProgram + std::string(" ") + DesktopExecArgument(program);
  for (const KaString& argument : definition.arguments) {
    line += " " + DesktopExecArgument(Utf8(argument));
  }
  return line;
}

// ExecStart=: systemd takes the program's path as it stands ("$" is no
// variable there) but refuses one with quotes or backslashes; such a program
// is started through env, as an argument.
std::string UnitCommandLine(const TaskDefinition& definition) {
  const std::string program = Utf8(definition.program);
  std::string line = program.find_first_of("\"'\\") == std::string::npos
                         ? "\"" + UnitText(program) + "\""
                         : kEnvProgram + std::string(" ") + UnitExecArgument(program);
  for (const KaString& argument : definition.arguments) {
    line += " " + UnitExecArgument(Utf8(argument));
  }
  return line;
}

// True when every word of the entry's command can be carried to GLib and
// to systemd alike.
bool StartableAtLogon(const TaskDefinition& definition) {
  if (Utf8(definition.program).find_first_of(kUnstartableAtLogon) != std::string::npos)
    return false;
  return std::none_of(
      definition.arguments.begin(), definition.arguments.end(), [](const KaString& argument) {
        return Utf8(argument).find_first_of(kUnstartableAtLogon) != std::string::npos;
      });
}

std::string DesktopEntryText(const KaString& name, const TaskDefinition& definition) {
  std::string text = "[Desktop Entry]\nType=Application\nName=" + DesktopString(Utf8(name)) + "\n";
  if (!definition.comment.IsEmpty()) {
    text += "Comment=" + DesktopString(Utf8(definition.comment)) + "\n";
  }
  text += "Exec=" + DesktopString(DesktopCommandLine(definition)) + "\n";
  // Left out where the generator would mangle it: the agent changes into its
  // own folder at every start anyway.
  const std::string folder = Utf8(definition.working_folder);
  if (!folder.empty() && folder.find_first_of(kUnwritablePath) == std::string::npos) {
    text += "Path=" + DesktopString(folder) + "\n";
  }
  text += "Terminal=false\nX-GNOME-Autostart-enabled=true\n";
  if (definition.disabled) text += "Hidden=true\n";
  return text;
}

// The [Unit] section that the timer and its service share.
std::string UnitSection(const KaString& name, const TaskDefinition& definition, TaskScope scope) {
  const KaString& description = definition.comment.IsEmpty() ? name : definition.comment;
  std::string text = "[Unit]\nDescription=" + UnitText(Utf8(description)) + "\n";
  if (scope == TaskScope::kMachine && !definition.user.IsEmpty()) {
    text += "ConditionUser=" + UnitText(Utf8(definition.user)) + "\n";
  }
  return text;
}

std::string ServiceText(const KaString& name, const TaskDefinition& definition, TaskScope scope) {
  std::string text = UnitSection(name, definition, scope);
  // Type=exec: the program may run for long; the unit is up once it started.
  text += "\n[Service]\nType=exec\nExecStart=" + UnitCommandLine(definition) + "\n";
  if (!definition.working_folder.IsEmpty()) {
    text += "WorkingDirectory=" + UnitText(Utf8(definition.working_folder)) + "\n";
  }
  return text;
}

struct Range {
  int first;
  int last;
  bool empty() const { return first > last; }
};

// A component of a calendar event: "*" for the whole range, else "N" or "N..M".
std::string CalendarComponent(Range range, Range whole, int width) {
  if (range.first == whole.first && range.last == whole.last) return "*";
  char text[32];
  if (range.first == range.last) {
    std::snprintf(text, sizeof(text), "%0*d", width, range.first);
  } else {
    std::snprintf(text, sizeof(text), "%0*d..%0*d", width, range.first, width, range.last);
  }
  return text;
}

struct DatePattern {
  Range years, months, days;
};

// The calendar patterns that together match the days from |begin| to |end|.
std::vector<DatePattern> DaysBetween(const TaskDate& begin, const TaskDate& end) {
  std::vector<DatePattern> patterns;
  auto add = [&](Range years, Range months, Range days) {
    if (!years.empty() && !months.empty() && !days.empty()) {
      patterns.push_back({years, months, days});
    }
  };
  const Range first_year{begin.year, begin.year};
  const Range last_year{end.year, end.year};
  if (begin.year == end.year && begin.month == end.month) {
    add(first_year, {begin.month, begin.month}, {begin.day, end.day});
    return patterns;
  }
  add(first_year, {begin.month, begin.month}, {begin.day, 31});
  if (begin.year == end.year) {
    add(first_year, {begin.month + 1, end.month - 1}, {1, 31});
    add(last_year, {end.month, end.month}, {1, end.day});
    return patterns;
  }
  add(first_year, {begin.month + 1, 12}, {1, 31});
  // An end on 31 December closes whole years: one pattern holds them all.
  const bool whole_last_year = end.month == 12 && end.day == 31;
  add({begin.year + 1, whole_last_year ? end.year : end.year - 1}, {1, 12}, {1, 31});
  if (whole_last_year) return patterns;
  add(last_year, {1, end.month - 1}, {1, 31});
  add(last_year, {end.month, end.month}, {1, end.day});
  return patterns;
}

bool IsCalendarDate(const TaskDate& date) {
  return date.year >= 1970 && date.year <= kLastCalendarYear && date.month >= 1 &&
         date.month <= 12 && date.day >= 1 && date.day <= 31;
}

bool Before(const TaskDate& a, const TaskDate& b) {
  return std::tie(a.year, a.month, a.day) < std::tie(b.year, b.month, b.day);
}

// The times of day of the trigger, "HH:MM,MM:00" per hour: the start, then
// every interval while within the duration and the start's day.
std::vector<std::string> TimesOfDay(const TaskTrigger& trigger) {
  std::map<int, std::string> minutes_by_hour;
  const int first = trigger.hour * 60 + trigger.minute;
  const bool repeats = trigger.interval_minutes > 0 && trigger.duration_minutes > 0;
  for (uint32_t offset = 0; first + static_cast<int64_t>(offset) < kMinutesPerDay;
       offset += trigger.interval_minutes) {
    const int at = first + static_cast<int>(offset);
    char minute[8];
    std::snprintf(minute, sizeof(minute), "%02d", at % 60);
    std::string& minutes = minutes_by_hour[at / 60];
    minutes += (minutes.empty() ? "" : ",") + std::string(minute);
    if (!repeats || offset + trigger.interval_minutes >= trigger.duration_minutes) break;
  }
  std::vector<std::string> times;
  for (const auto& [hour, minutes] : minutes_by_hour) {
    char text[16];
    std::snprintf(text, sizeof(text), "%02d:", hour);
    times.push_back(text + minutes + ":00");
  }
  return times;
}

// The OnCalendar= values of a dated trigger; none when it cannot be served.
std::vector<std::string> CalendarEvents(const TaskTrigger& trigger) {
  if (trigger.hour < 0 || trigger.hour > 23 || trigger.minute < 0 || trigger.minute > 59 ||
      !IsCalendarDate(trigger.begin)) {
    return {};
  }
  TaskDate end = trigger.kind == TaskTrigger::Kind::kOnce ? trigger.begin
                                                          : TaskDate{kLastCalendarYear, 12, 31};
  if (trigger.has_end && trigger.kind != TaskTrigger::Kind::kOnce) {
    if (!IsCalendarDate(trigger.end) || Before(trigger.end, trigger.begin)) return {};
    end = trigger.end;
  }
  std::string weekday;
  if (trigger.kind == TaskTrigger::Kind::kWeekly) {
    if (trigger.weekday < 0 || trigger.weekday > 6) return {};
    weekday = std::string(kWeekdays[trigger.weekday]) + " ";
  }
  std::vector<std::string> events;
  for (DatePattern pattern : DaysBetween(trigger.begin, end)) {
    if (trigger.kind == TaskTrigger::Kind::kMonthly) {
      const int day = trigger.begin.day;
      if (day < pattern.days.first || day > pattern.days.last) continue;
      pattern.days = {day, day};
    }
    const std::string date = CalendarComponent(pattern.years, {0, -1}, 4) + "-" +
                             CalendarComponent(pattern.months, {1, 12}, 2) + "-" +
                             CalendarComponent(pattern.days, {1, 31}, 2);
    for (const std::string& time : TimesOfDay(trigger)) {
      events.push_back(weekday + date + " " + time);
    }
  }
  return events;
}

std::string TimerText(const KaString& name, const TaskDefinition& definition, TaskScope scope) {
  std::string text = UnitSection(name, definition, scope) + "\n[Timer]\n";
  for (const std::string& event : CalendarEvents(definition.trigger)) {
    text += "OnCalendar=" + event + "\n";
  }
  // The timer is unloaded once it has elapsed for the last time.
  if (definition.delete_when_done) text += "RemainAfterElapse=no\n";
  return text + "\n[Install]\nWantedBy=timers.target\n";
}

// Points |link| at |target| atomically (a new link renamed over the old).
bool ReplaceLink(const std::string& target, const std::string& link) {
  const std::string temporary = TemporaryNameBeside(link);
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0) return false;
  if (rename(temporary.c_str(), link.c_str()) == 0) return true;
  const int saved = errno;
  unlink(temporary.c_str());
  errno = saved;
  return false;
}

// The paths of every file a task |name| may have in |scope|, the link first.
std::vector<std::string> TaskFilePaths(const std::string& escaped, TaskScope scope) {
  const std::string units = UnitFolder(scope) + "/" + escaped;
  return {WantsFolder(scope) + "/" + escaped + ".timer", units + ".timer", units + ".service",
          AutostartFolder(scope) + "/" + escaped + ".desktop"};
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// Writes the files of |files| in order; on a failure removes the ones
// written before and returns the Win32 code.
uint32_t WriteAllOrNone(const std::vector<std::pair<std::string, std::string>>& files,
                        TaskScope scope) {
  std::vector<std::string> written;
  for (const auto& [path, text] : files) {
    const bool folder_ready = CreateFolder(Wide(FolderOf(path)), scope == TaskScope::kMachine);
    if (!folder_ready || !ReplaceFileAtomically(path, text, nullptr, kFileMode)) {
      const uint32_t code =
          folder_ready ? KaOSAL::SetLastErrorFromErrno(errno) : KaOSAL::GetLastError();
      for (const std::string& done : written) unlink(done.c_str());
      KaOSAL::SetLastError(code);
      return code;
    }
    written.push_back(path);
  }
  return 0;
}

}  // namespace

TaskScope DefaultTaskScope() { return geteuid() == 0 ? TaskScope::kMachine : TaskScope::kUser; }

bool TaskSchedulerPresent() { return DirectoryExists(GetMachinePath(u"run/systemd/system")); }

std::string EscapedTaskName(const KaString& name) {
  // As systemd-escape: "/" becomes "-"; bytes outside [A-Za-z0-9:_.] and a
  // leading "." become \xNN.
  const std::string text = Utf8(name);
  std::string escaped;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == ':' || c == '_' || (c == '.' && i > 0);
    if (c == '/') {
      escaped += '-';
    } else if (plain) {
      escaped += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof(hex), "\\x%02x", c);
      escaped += hex;
    }
  }
  return escaped;
}

uint32_t CheckTaskName(const KaString& name) {
  if (name.IsEmpty() || HasControlCharacter(Utf8(name))) return 123;  // ERROR_INVALID_NAME
  if (EscapedTaskName(name).size() > kMaxEscapedName) return 206;     // ERROR_FILENAME_EXCED_RANGE
  return 0;
}

bool IsWritableTaskText(const KaString& text) { return !HasControlCharacter(Utf8(text)); }

bool IsServableTrigger(const TaskTrigger& trigger) {
  return trigger.kind == TaskTrigger::Kind::kAtLogon || !CalendarEvents(trigger).empty();
}

bool TaskExists(const KaString& name, TaskScope scope) {
  const std::vector<std::string> paths = TaskFilePaths(EscapedTaskName(name), scope);
  return std::any_of(paths.begin(), paths.end(), PathExists);
}

uint32_t WriteTaskFiles(const KaString& name, const TaskDefinition& definition, TaskScope scope) {
  const std::string escaped = EscapedTaskName(name);
  if (definition.trigger.kind == TaskTrigger::Kind::kAtLogon) {
    if (!StartableAtLogon(definition)) {
      LogW(kLogError,
           u"TASK: the autostart entry \"%s\" cannot start \"%s\": a logon session would read "
           u"a backslash, \"$\" or \"`\" in its path or arguments otherwise",
           name.c_str(), definition.program.c_str());
      return kErrorBadPathName;
    }
    return WriteAllOrNone(
        {{AutostartFolder(scope) + "/" + escaped + ".desktop", DesktopEntryText(name, definition)}},
        scope);
  }
  const std::string units = UnitFolder(scope) + "/" + escaped;
  const uint32_t code = WriteAllOrNone({{units + ".service", ServiceText(name, definition, scope)},
                                        {units + ".timer", TimerText(name, definition, scope)}},
                                       scope);
  if (code != 0) return code;
  const std::string timer = escaped + ".timer";
  if (!definition.disabled) {
    // Enabled as systemctl enables it, without needing a running manager.
    const std::string wants = WantsFolder(scope);
    uint32_t failure = 0;
    if (!CreateFolder(Wide(wants), scope == TaskScope::kMachine)) {
      failure = KaOSAL::GetLastError();
    } else if (!ReplaceLink("../" + timer, wants + "/" + timer)) {
      failure = KaOSAL::Win32ErrorFromErrno(errno);
    }
    if (failure != 0) {
      unlink((units + ".timer").c_str());
      unlink((units + ".service").c_str());
      KaOSAL::SetLastError(failure);
      return failure;
    }
  }
  if (scope == TaskScope::kUser) TellUserManager("", definition.disabled ? "" : timer);
  return 0;
}

uint32_t RemoveTaskFiles(const KaString& name, TaskScope scope) {
  const std::string escaped = EscapedTaskName(name);
  const std::vector<std::string> paths = TaskFilePaths(escaped, scope);
  const bool had_timer = PathExists(paths[1]);
  bool removed = false;
  uint32_t failure = 0;
  for (const std::string& path : paths) {
    if (unlink(path.c_str()) == 0) {
      removed = true;
    } else if (errno != ENOENT && failure == 0) {
      failure = KaOSAL::Win32ErrorFromErrno(errno);
    }
  }
  // A loaded timer stays active until stopped, even with its file gone.
  if (had_timer && scope == TaskScope::kUser) TellUserManager(escaped + ".timer", "");
  const uint32_t code = failure != 0 ? failure : removed ? 0 : KaOSAL::kErrorFileNotFound;
  KaOSAL::SetLastError(code);
  return code;
}

}  // namespace wardex::platform
