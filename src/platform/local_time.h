// The local calendar time of a moment, in the time zone of the process (TZ).
#pragma once

#include <cstdint>

namespace wardex::platform {

struct LocalCalendarTime {
  int year;
  int month;    // 1 to 12
  int day;      // 1 to 31
  int weekday;  // 0 Sunday to 6 Saturday
  int hour;
  int minute;
  int second;
};

// The local time of |seconds| since 1970-01-01 UTC. False when it cannot be
// converted (a moment outside the calendar's range).
[[nodiscard]] bool ToLocalCalendarTime(int64_t seconds, LocalCalendarTime* local);

}  // namespace wardex::platform
