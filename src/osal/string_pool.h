// The block pools behind KaString buffers: capacities are rounded up to 64,
// 128, 256 or 512 characters and served from four fixed-size pools; longer
// buffers get exactly their size from the general heap.
#pragma once

#include "osal/ka_string.h"

namespace KaOSAL::detail {

// The largest capacity that the pools serve.
inline constexpr int kLargestPooledCapacity = 512;

// The capacity that a buffer for |length| characters gets.
int StringCapacityFor(int length);

// A new buffer for |length| characters (0 allowed): reference count 1, data
// length |length|, the rounded capacity, and a terminator at |length|. The
// characters before it are not initialised. Never returns null: running out of
// memory raises std::bad_alloc, as every other allocation does.
KaStringData* AllocStringData(int length);

// Gives a buffer back: a pooled block to the pool of its capacity, any other
// buffer to the heap. Safe on any thread, also on the one that did not make it.
void FreeStringData(KaStringData* data);

}  // namespace KaOSAL::detail
