// The calling process's and thread's ids and the clock, as log lines and
// crash reports show them. Async-signal-safe.
#pragma once

#include <cstdint>

namespace wardex::crashlog {

// A moment in local time, to the millisecond.
struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

[[nodiscard]] LocalTime LocalTimeNow();
// Seconds since 1 January 1970 UTC.
[[nodiscard]] int64_t UtcSecondsNow();
[[nodiscard]] uint32_t CurrentProcessId();
// The kernel's id of the calling thread.
[[nodiscard]] uint32_t CurrentThreadId();

// For the length of a log call: the caller's error state (errno, and the
// system's last error on Windows) is kept, since callers log a failure and
// then look at its code; and the thread cannot be cancelled half-way, which
// would leave the log lock held and every other thread's logging blocked.
class LogCallScope {
 public:
  LogCallScope();
  ~LogCallScope();
  LogCallScope(const LogCallScope&) = delete;
  LogCallScope& operator=(const LogCallScope&) = delete;

 private:
  int saved_errno_;
  uint32_t saved_state_;  // the cancel state, or the system's last error
};

}  // namespace wardex::crashlog
