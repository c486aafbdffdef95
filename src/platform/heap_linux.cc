#include "platform/heap.h"

#include <malloc.h>

namespace wardex::platform {

void UseOneHeapForAllThreads() { static_cast<void>(mallopt(M_ARENA_MAX, 1)); }

}  // namespace wardex::platform
