// Crash reports: text files "crash-YYYYMMDD-HHMMSS-<pid>.txt" (UTC) in the log
// folder, written without allocating or locking so that a signal handler can
// write them. Reports of the same second append to the same file.
#pragma once

#include <string>
#include <string_view>

namespace wardex::crashlog {

// Where reports go from now on: the log folder, or empty for standard error
// (the log itself goes there). The text is kept for the life of the process,
// since a handler on another thread may be reading the previous one.
void PublishReportDir(const std::string& dir);
// The computer identifier that every report names (UTF-8).
void PublishComputerId(const std::string& computer_id);

// Writes one report: the heading with |title|, time, process, thread and
// computer, then |details| (whole lines), then a backtrace of the caller.
// Async-signal-safe once PrepareBacktrace has run.
void WriteReport(std::string_view title, std::string_view details);

// Linux: backtrace() loads its unwinder on first use, which allocates; this
// does it early, outside any signal handler.
void PrepareBacktrace();

}  // namespace wardex::crashlog
