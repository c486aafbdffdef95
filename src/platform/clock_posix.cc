#include "platform/clock.h"

#include <time.h>

namespace wardex::platform {
namespace {

constexpr int64_t kNanosPerSecond = 1'000'000'000;

// Returns the reading of |clock| in nanoseconds, or 0 when it cannot be read.
int64_t ReadNanoseconds(clockid_t clock) {
  timespec now{};
  if (clock_gettime(clock, &now) != 0) return 0;
  return static_cast<int64_t>(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
}

}  // namespace

int64_t PerformanceCounter() { return ReadNanoseconds(CLOCK_MONOTONIC); }

int64_t PerformanceFrequency() {
  timespec resolution{};
  return clock_getres(CLOCK_MONOTONIC, &resolution) == 0 ? kNanosPerSecond : 0;
}

uint32_t TickCount() { return static_cast<uint32_t>(ReadNanoseconds(CLOCK_MONOTONIC) / 1'000'000); }

uint64_t UptimeMilliseconds() {
  return static_cast<uint64_t>(ReadNanoseconds(CLOCK_BOOTTIME) / 1'000'000);
}

WallClock CurrentWallClock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return {static_cast<int64_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec / 1'000'000)};
}

}  // namespace wardex::platform
