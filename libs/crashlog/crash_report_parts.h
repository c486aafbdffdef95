// The parts of a crash report that every platform writes alike: the file's
// name and the heading. Async-signal-safe.
#pragma once

#include <cstdint>
#include <string_view>

#include "fixed_text.h"

namespace wardex::crashlog {

using ReportPath = FixedText<4096>;
using ReportHeading = FixedText<1024>;

// The published report folder, or null/empty for standard error.
[[nodiscard]] const char* PublishedReportDir();

// Appends "<dir><separator>crash-YYYYMMDD-HHMMSS-<pid><extension>" (UTC).
void AppendReportFileName(ReportPath& path, const char* dir, char separator, int64_t utc_seconds,
                          uint32_t process_id, std::string_view extension);

// Appends the heading lines: title, time (UTC), process, thread, computer.
void AppendReportHeading(ReportHeading& heading, std::string_view title, int64_t utc_seconds,
                         uint32_t process_id, uint32_t thread_id);

}  // namespace wardex::crashlog
