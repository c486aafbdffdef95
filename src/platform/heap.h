// The process's allocator policy.
#pragma once

namespace wardex::platform {

// Makes every thread allocate from the one main heap. glibc otherwise gives
// threads heaps of their own and never hands their free top back (not even
// malloc_trim does), so a burst of large pipe messages on the IPC library's
// workers would leave the agent megabytes bigger for good. Call before the
// first thread starts.
void UseOneHeapForAllThreads();

}  // namespace wardex::platform
