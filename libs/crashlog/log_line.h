// The text of one log line: "2026-12-05 14:09:10.123 [14] 12345 text\n" (local
// time with milliseconds, level in brackets, the system's thread id, text).
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace wardex::crashlog {

inline constexpr char kLogLevelVariable[] = "WARDEX_LOG_LEVEL";

// Whether a line of |level| is written: WARDEX_LOG_LEVEL=N writes levels up to
// N; unset, empty or not a number writes every level.
[[nodiscard]] bool LevelEnabled(int level);

// Formats the wide printf-style text as UTF-8 on one line: trailing line
// breaks are dropped, inner ones become spaces. A null format is empty.
[[nodiscard]] std::string FormatLogText(const char16_t* format, va_list args);

// The whole line, prefix and trailing newline included, stamped now.
[[nodiscard]] std::string BuildLogLine(int level, std::string_view text);

}  // namespace wardex::crashlog
