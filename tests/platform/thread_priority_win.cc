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

ObservedPriorities ExpectedPriorities() {
  return {.normal = THREAD_PRIORITY_NORMAL,
          .below_normal = THREAD_PRIORITY_BELOW_NORMAL,
          .lowest = THREAD_PRIORITY_LOWEST};
}

bool WithProcessPriorityLowered(const std::function<bool()>& check) {
  const DWORD started_with = GetPriorityClass(GetCurrentProcess());
  if (!SetPriorityClass(GetCurrentProcess(), BELOW_NORMAL_PRIORITY_CLASS)) return false;
  const bool result = check();
  SetPriorityClass(GetCurrentProcess(), started_with);
  return result;
}

}  // namespace wardex::platform::test
