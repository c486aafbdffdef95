#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "platform/thread_priority.h"

namespace wardex::platform::test {

int ObservedPriority(uint32_t thread_id) {
  return getpriority(PRIO_PROCESS, thread_id) - getpriority(PRIO_PROCESS, getpid());
}

ObservedPriorities ExpectedPriorities() {
  // Nice values end at 19: a process near it has less room below.
  const int room = 19 - getpriority(PRIO_PROCESS, getpid());
  return {.normal = 0, .below_normal = std::min(5, room), .lowest = std::min(10, room)};
}

bool WithProcessPriorityLowered(const std::function<bool()>& check) {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const int lowered = getpriority(PRIO_PROCESS, getpid()) + 5;
    if (setpriority(PRIO_PROCESS, getpid(), lowered) != 0) _exit(2);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace wardex::platform::test
