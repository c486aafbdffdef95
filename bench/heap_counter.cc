// The executable's definitions of malloc and friends take precedence over the
// C library's for every module of the process, libkaosal.so included; each
// counts and forwards to the C library's own implementation.
#include "heap_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<uint64_t> g_allocations{0};

void Count() { g_allocations.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

extern "C" {

void* malloc(size_t size) {
  Count();
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  Count();
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
  Count();
  return __libc_realloc(pointer, size);
}

void* memalign(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
  Count();
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *out = pointer;
  return 0;
}

void free(void* pointer) { __libc_free(pointer); }

}  // extern "C"

namespace wardex::bench {

uint64_t HeapAllocations() { return g_allocations.load(std::memory_order_relaxed); }

}  // namespace wardex::bench
