// The clocks that stand in for the tick count, the performance counter and
// the system time: the monotonic clock, the time since system start (which
// keeps counting through suspend) and the wall clock in UTC.
#pragma once

#include <cstdint>

namespace wardex::platform {

// Counts of the monotonic high-resolution clock, never set back.
[[nodiscard]] int64_t PerformanceCounter();
// Counts per second of PerformanceCounter(), or 0 when the clock is missing.
[[nodiscard]] int64_t PerformanceFrequency();
// Milliseconds of the monotonic clock, wrapping at 2^32 like a tick count.
[[nodiscard]] uint32_t TickCount();
// Milliseconds since the system started, suspended time included.
[[nodiscard]] uint64_t UptimeMilliseconds();

// The wall clock in UTC: seconds since 1970-01-01 and the milliseconds.
struct WallClock {
  int64_t seconds;
  uint32_t milliseconds;
};
[[nodiscard]] WallClock CurrentWallClock();

}  // namespace wardex::platform
