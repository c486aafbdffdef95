#include "this_process.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace wardex::crashlog {

LocalTime LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return {local.tm_year + 1900,
          local.tm_mon + 1,
          local.tm_mday,
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000)};
}

int64_t UtcSecondsNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

LogCallScope::LogCallScope() : saved_errno_(errno) {
  int cancel_state = 0;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancel_state);
  saved_state_ = static_cast<uint32_t>(cancel_state);
}

LogCallScope::~LogCallScope() {
  pthread_setcancelstate(static_cast<int>(saved_state_), nullptr);
  errno = saved_errno_;
}

}  // namespace wardex::crashlog
