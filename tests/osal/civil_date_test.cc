#include "osal/civil_date.h"

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

namespace KaOSAL {
namespace {

// Days beyond the range compared with the C library below.
TEST(CivilDateTest, DaysFarFromTheEpoch) {
  const std::tuple<int64_t, int64_t, unsigned, unsigned> cases[] = {
      {-719468, 0, 3, 1},       // the start of the 400-year eras
      {-719469, 0, 2, 29},      // the day before, in a negative era
      {2932896, 9999, 12, 31},  // far ahead
  };
  for (const auto& [days, year, month, day] : cases) {
    const CivilDate date = CivilFromDays(days);
    EXPECT_EQ(std::tie(date.year, date.month, date.day), std::tie(year, month, day)) << days;
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
