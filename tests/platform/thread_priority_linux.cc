#include <sys/resource.h>

#include "platform/thread_priority.h"

namespace wardex::platform::test {

int ObservedPriority(uint32_t thread_id) { return getpriority(PRIO_PROCESS, thread_id); }

const ObservedPriorities kObserved = {.normal = 0, .below_normal = 5, .lowest = 10};

}  // namespace wardex::platform::test
