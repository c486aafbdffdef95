#include "platform/heap.h"

#include "platform/windows_api.h"

namespace wardex::platform {

// Every thread already allocates from the process heap; the low-fragmentation
// front end keeps it near its working set as the Linux side's one arena does.
void UseOneHeapForAllThreads() {
  ULONG low_fragmentation = 2;
  static_cast<void>(HeapSetInformation(GetProcessHeap(), HeapCompatibilityInformation,
                                       &low_fragmentation, sizeof(low_fragmentation)));
}

}  // namespace wardex::platform
