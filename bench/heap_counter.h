// Counts the calls into the general heap (malloc and its relatives, and so
// operator new) made by the whole process, by interposing the allocator's
// entry points in the benchmark executable.
#pragma once

#include <cstdint>

namespace wardex::bench {

// Heap allocations made since the process started.
uint64_t HeapAllocations();

}  // namespace wardex::bench
