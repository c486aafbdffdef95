#include "platform/local_time.h"

#include <time.h>

namespace wardex::platform {

bool ToLocalCalendarTime(int64_t seconds, LocalCalendarTime* local) {
  // localtime_r need not look at TZ again; a changed zone must count.
  tzset();
  const time_t moment = static_cast<time_t>(seconds);
  struct tm parts {};
  if (localtime_r(&moment, &parts) == nullptr) return false;
  *local = {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_wday,
            parts.tm_hour,        parts.tm_min,     parts.tm_sec};
  return true;
}

}  // namespace wardex::platform
