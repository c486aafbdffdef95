// The Gregorian date of a day count, by arithmetic alone, for the places that
// cannot call gmtime_r (the crash report: it is not async-signal-safe) or
// count from another epoch (SNTP's 1900). Header-only, so that libcrashlog and
// the static libraries share it without linking anything more.
#pragma once

#include <cstdint>

namespace KaOSAL {

struct CivilDate {
  int64_t year;
  unsigned month;  // 1 to 12
  unsigned day;    // 1 to 31
};

// The date |days| after 1970-01-01 (before it when negative).
constexpr CivilDate CivilFromDays(int64_t days) {
  // Counted in 400-year eras from 0000-03-01, so that the leap day ends each
  // year (H. Hinnant's days-to-civil).
  constexpr int64_t kDaysFrom0000To1970 = 719468;
  const int64_t z = days + kDaysFrom0000To1970;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t day_of_era = z - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * day_of_year + 2) / 153;
  const auto day = static_cast<unsigned>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  const auto month =
      static_cast<unsigned>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace KaOSAL
