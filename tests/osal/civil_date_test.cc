#include "osal/civil_date.h"

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

namespace KaOSAL {
namespace {

// Every day from 0000-02-29 (in a negative 400-year era, the day before the
// first era starts) to 9999-12-31, with the missing leap days of 1900 and 2100
// and the present one of 2000, agrees with the standard library's calendar.
TEST(CivilDateTest, AgreesWithTheStandardCalendar) {
  for (int64_t days = -719469; days <= 2932896; ++days) {
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
