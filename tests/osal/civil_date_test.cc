#include "osal/civil_date.h"

#include <gtest/gtest.h>

#include <ctime>

namespace KaOSAL {
namespace {

struct DateCase {
  int64_t days;
  int64_t year;
  unsigned month;
  unsigned day;
};

TEST(CivilDateTest, KnownDays) {
  const DateCase cases[] = {
      {0, 1970, 1, 1},          // the epoch
      {-1, 1969, 12, 31},       // the day before
      {-25567, 1900, 1, 1},     // SNTP's epoch
      {-25508, 1900, 3, 1},     // 1900 is no leap year
      {11016, 2000, 2, 29},     // 2000 is one
      {11017, 2000, 3, 1},      // the first day of a shifted year
      {11322, 2000, 12, 31},    // the last day of a calendar year
      {-719468, 0, 3, 1},       // the start of the 400-year eras
      {-719469, 0, 2, 29},      // the day before, in a negative era
      {2932896, 9999, 12, 31},  // far ahead
      {47482, 2100, 1, 1},      // a century year
      {47541, 2100, 3, 1},      // 2100 is no leap year
  };
  for (const DateCase& c : cases) {
    const CivilDate date = CivilFromDays(c.days);
    EXPECT_EQ(date.year, c.year) << c.days;
    EXPECT_EQ(date.month, c.month) << c.days;
    EXPECT_EQ(date.day, c.day) << c.days;
  }
}

// Every day of several centuries agrees with the C library.
TEST(CivilDateTest, AgreesWithGmtime) {
  for (int64_t days = -80000; days <= 120000; ++days) {
    const time_t seconds = static_cast<time_t>(days * 86400);
    tm expected{};
    ASSERT_NE(gmtime_r(&seconds, &expected), nullptr);
    const CivilDate date = CivilFromDays(days);
    ASSERT_EQ(date.year, expected.tm_year + 1900) << days;
    ASSERT_EQ(date.month, static_cast<unsigned>(expected.tm_mon + 1)) << days;
    ASSERT_EQ(date.day, static_cast<unsigned>(expected.tm_mday)) << days;
  }
}

}  // namespace
}  // namespace KaOSAL
