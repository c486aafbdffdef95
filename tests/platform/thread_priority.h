// A thread's priority as the system reports it, for the thread tests: the
// nice value on Linux, the thread priority on Windows.
#pragma once

#include <cstdint>

namespace wardex::platform::test {

int ObservedPriority(uint32_t thread_id);

// What the system reports for the priorities the tests set.
struct ObservedPriorities {
  int normal;
  int below_normal;
  int lowest;
};
extern const ObservedPriorities kObserved;

}  // namespace wardex::platform::test
