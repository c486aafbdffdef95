// Where log lines go: a size-rotated file, or standard error when none can
// be opened. The target is resolved at the first line and again whenever one
// of the variables it came from (WARDEX_LOG_FILE and those of the system's
// default place) has changed since: a few getenv calls and compares a line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace wardex::crashlog {

// A test (or a user) sends the log to a file of its own with this variable.
inline constexpr char kLogFileVariable[] = "WARDEX_LOG_FILE";
inline constexpr char kLogFileName[] = "wardex.log";
// A file is rotated before a line would take it past this size; the
// generations "wardex.log.1" (newest) to "wardex.log.3" are kept.
inline constexpr int64_t kLogFileMaxBytes = 1 << 20;
inline constexpr int kLogGenerations = 3;

// Writes the line of |text| with one write under the log lock, so lines of
// different threads never interleave, and mirrors it to the systemd journal
// where that is the default target.
void WriteLog(int level, std::string_view text);

// Tells crash reports the log's folder before the first line is written,
// without making the folder or the file: a process that never logs (one
// asked for its version) leaves nothing behind.
void PublishLogFolderForReports();

// The log file's path; empty when the log goes to standard error.
std::string LogTarget();

}  // namespace wardex::crashlog
