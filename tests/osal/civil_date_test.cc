#include "osal/civil_date.h"

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

namespace KaOSAL {
namespace {

struct DateCase {
  int64_t days;
  int64_t year;
  unsigned month;
  unsigned day;
};

// Days beyond the range compared with the C library below.
TEST(CivilDateTest, DaysFarFromTheEpoch) {
  const DateCase cases[] = {
      {-719468, 0, 3, 1},       // the start of the 400-year eras
      {-719469, 0, 2, 29},      // the day before, in a negative era
      {2932896, 9999, 12, 31},  // far ahead
  };
  for (const DateCase& c : cases) {
    const CivilDate date = CivilFromDays(c.days);
    EXPECT_EQ(std::tie(date.year, date.month, date.day), std::tie(c.year, c.month, c.day))
        << c.days;
  }
}

// Every day of several centuries (1750 to 2298, with the epoch, 1900's and
// 2100's missing leap days and 2000's present one) agrees with the standard
// library's calendar.
TEST(CivilDateTest, AgreesWithTheStandardCalendar) {
  for (int64_t days = -80000; days <= 120000; ++days) {
    const std::chrono::year_month_day expected{std::chrono::sys_days{std::chrono::days{days}}};
    const CivilDate date = CivilFromDays(days);
    ASSERT_EQ(std::tuple(date.year, date.month, date.day),
              std::tuple(int64_t{int{expected.year()}}, unsigned{expected.month()},
                         unsigned{expected.day()}))
        << days;
  }
}

}  // namespace
}  // namespace KaOSAL
