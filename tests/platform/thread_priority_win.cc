#include "platform/thread_priority.h"
#include "platform/windows_api.h"

namespace wardex::platform::test {

int ObservedPriority(uint32_t thread_id) {
  HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, thread_id);
  if (thread == nullptr) return THREAD_PRIORITY_ERROR_RETURN;
  const int priority = GetThreadPriority(thread);
  CloseHandle(thread);
  return priority;
}

const ObservedPriorities kObserved = {.normal = THREAD_PRIORITY_NORMAL,
                                      .below_normal = THREAD_PRIORITY_BELOW_NORMAL,
                                      .lowest = THREAD_PRIORITY_LOWEST};

}  // namespace wardex::platform::test
