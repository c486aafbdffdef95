#include "time/stopwatch.h"

#include "platform/clock.h"

namespace wardex {
namespace {

constexpr int64_t kTicksPerSecond = 1000;

}  // namespace

Stopwatch::Stopwatch()
    : frequency_(platform::PerformanceFrequency()), counting_ticks_(frequency_ <= 0) {
  if (counting_ticks_) {
    frequency_ = kTicksPerSecond;
    start_ = platform::TickCount();
  } else {
    start_ = platform::PerformanceCounter();
  }
}

int64_t Stopwatch::ElapsedMilliseconds() const {
  // The tick count wraps at 2^32; the unsigned difference stays right across it.
  const int64_t counts =
      counting_ticks_ ? static_cast<uint32_t>(platform::TickCount() - static_cast<uint32_t>(start_))
                      : platform::PerformanceCounter() - start_;
  return counts * 1000 / frequency_;
}

}  // namespace wardex
