#include "platform/clock.h"

#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

// FILETIME counts 100 ns since 1601-01-01; the Unix epoch is this many later.
constexpr int64_t kUnixEpochIn100ns = 116'444'736'000'000'000;

}  // namespace

int64_t PerformanceCounter() {
  LARGE_INTEGER counter{};
  return QueryPerformanceCounter(&counter) ? counter.QuadPart : 0;
}

int64_t PerformanceFrequency() {
  LARGE_INTEGER frequency{};
  return QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
}

uint32_t TickCount() { return static_cast<uint32_t>(GetTickCount64()); }

// The tick count goes on through sleep and hibernation.
uint64_t UptimeMilliseconds() { return GetTickCount64(); }

WallClock CurrentWallClock() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const int64_t since_1970 =
      ((static_cast<int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) - kUnixEpochIn100ns;
  return {since_1970 / 10'000'000, static_cast<uint32_t>(since_1970 % 10'000'000 / 10'000)};
}

}  // namespace wardex::platform
