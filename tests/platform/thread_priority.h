// A thread's priority as the system reports it, relative to the process's
// own, for the thread tests: the nice value less the process's on Linux, the
// thread priority on Windows.
#pragma once

#include <cstdint>
#include <functional>

namespace wardex::platform::test {

int ObservedPriority(uint32_t thread_id);

// What the system reports for the priorities the tests set, in this process
// as it runs now.
struct ObservedPriorities {
  int normal;
  int below_normal;
  int lowest;
};
ObservedPriorities ExpectedPriorities();

// |check|'s result while the whole process runs below the priority it started
// with; false when it could not be lowered. On Linux in a forked child: a
// lowered nice value may not be raised again without privilege.
bool WithProcessPriorityLowered(const std::function<bool()>& check);

}  // namespace wardex::platform::test
