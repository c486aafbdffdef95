#include "platform/local_time.h"

#include "platform/windows_api.h"

namespace wardex::platform {

bool ToLocalCalendarTime(int64_t seconds, LocalCalendarTime* local) {
  // 100-ns intervals since 1601, the system's epoch.
  constexpr int64_t kEpochDifference = 11644473600;
  constexpr int64_t kLastSecond = INT64_MAX / 10000000 - kEpochDifference;
  if (seconds < -kEpochDifference || seconds > kLastSecond) return false;
  const uint64_t intervals = static_cast<uint64_t>(seconds + kEpochDifference) * 10000000;
  const FILETIME moment = {static_cast<DWORD>(intervals), static_cast<DWORD>(intervals >> 32)};
  SYSTEMTIME utc;
  SYSTEMTIME parts;
  // The zone the system is set to, with its daylight saving time.
  if (!::FileTimeToSystemTime(&moment, &utc) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &parts)) {
    return false;
  }
  *local = {parts.wYear, parts.wMonth,  parts.wDay,   parts.wDayOfWeek,
            parts.wHour, parts.wMinute, parts.wSecond};
  return true;
}

}  // namespace wardex::platform
