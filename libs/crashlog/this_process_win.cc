#include "this_process.h"

#include <cerrno>

#include "platform/windows_api.h"

namespace wardex::crashlog {
namespace {

// 100-nanosecond intervals between 1601 and 1970.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000;

}  // namespace

LocalTime LocalTimeNow() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return {local.wYear,   local.wMonth,  local.wDay,         local.wHour,
          local.wMinute, local.wSecond, local.wMilliseconds};
}

int64_t UtcSecondsNow() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const int64_t intervals =
      static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return (intervals - kUnixEpochInFileTime) / 10000000;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

// Threads of Windows are never cancelled; only the errors are kept.
LogCallScope::LogCallScope() : saved_errno_(errno), saved_state_(::GetLastError()) {}

LogCallScope::~LogCallScope() {
  ::SetLastError(saved_state_);
  errno = saved_errno_;
}

}  // namespace wardex::crashlog
