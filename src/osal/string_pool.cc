// Each size class has a central list of free blocks, kept as a stack of
// batches under its own mutex, and every thread keeps a small cache of free
// blocks per class in front of it. Allocating and freeing touch only the
// calling thread's cache; the central list is locked once per batch of
// kBatch blocks, and the heap is asked only when a class has no free block
// anywhere. Pool memory is never given back: the pools only grow to the
// largest number of strings alive at once.
#include "osal/string_pool.h"

#include <cstddef>
#include <mutex>
#include <new>

#include "platform/thread_end.h"

#if defined(__SANITIZE_ADDRESS__)  // gcc
#define WARDEX_POOL_POISONING 1
#elif defined(__has_feature)  // clang
#if __has_feature(address_sanitizer)
#define WARDEX_POOL_POISONING 1
#endif
#endif
#if defined(WARDEX_POOL_POISONING)
#include <sanitizer/asan_interface.h>
#endif

namespace KaOSAL::detail {
namespace {

constexpr int kClassCapacities[] = {64, 128, 256, kLargestPooledCapacity};
constexpr int kClassCount = 4;
// Blocks moved between a thread's cache and the central list at once.
constexpr int kBatch = 32;
// A thread's cache hands a batch back once it holds this many blocks.
constexpr int kCacheLimit = 2 * kBatch;
constexpr size_t kBlockAlignment = 16;

// A free block; its first bytes hold the links while it is unused.
struct FreeBlock {
  FreeBlock* next;        // next block of the same batch
  FreeBlock* next_batch;  // next batch (only on a batch's first block)
  int count;              // blocks in this batch (only on a batch's first block)
};

// Under AddressSanitizer a free block is poisoned but for its links, so that
// a use of a freed string's buffer is reported as it would be on the heap.
void PoisonFree(void* block, int cls);
void UnpoisonTaken(void* block, int cls);

size_t BufferBytes(int capacity) {
  return sizeof(KaStringData) + (static_cast<size_t>(capacity) + 1) * sizeof(char16_t);
}

constexpr size_t BlockBytes(int capacity) {
  size_t bytes = sizeof(KaStringData) + (static_cast<size_t>(capacity) + 1) * sizeof(char16_t);
  return (bytes + kBlockAlignment - 1) / kBlockAlignment * kBlockAlignment;
}
static_assert(BlockBytes(64) >= sizeof(FreeBlock));

#if defined(WARDEX_POOL_POISONING)
void PoisonFree(void* block, int cls) {
  auto* bytes = static_cast<std::byte*>(block);
  ASAN_POISON_MEMORY_REGION(bytes + sizeof(FreeBlock),
                            BlockBytes(kClassCapacities[cls]) - sizeof(FreeBlock));
}
void UnpoisonTaken(void* block, int cls) {
  ASAN_UNPOISON_MEMORY_REGION(block, BlockBytes(kClassCapacities[cls]));
}
#else
void PoisonFree(void*, int) {}
void UnpoisonTaken(void*, int) {}
#endif

// The size class that serves |capacity|, or -1 for a heap buffer.
int ClassOf(int capacity) {
  for (int i = 0; i < kClassCount; ++i) {
    if (capacity == kClassCapacities[i]) return i;
  }
  return -1;
}

int ClassFor(int length) {
  for (int i = 0; i < kClassCount; ++i) {
    if (length <= kClassCapacities[i]) return i;
  }
  return -1;
}

class CentralList {
 public:
  void PutBatch(FreeBlock* first, int count) {
    first->count = count;
    std::lock_guard lock(mutex_);
    first->next_batch = batches_;
    batches_ = first;
  }

  // A batch of blocks chained through |next|, or null when there is none.
  FreeBlock* TakeBatch(int& count) {
    std::lock_guard lock(mutex_);
    FreeBlock* batch = batches_;
    if (batch != nullptr) {
      batches_ = batch->next_batch;
      count = batch->count;
    }
    return batch;
  }

 private:
  std::mutex mutex_;
  FreeBlock* batches_ = nullptr;
};

// Never destroyed: strings in static objects and thread-local caches of
// threads that end late give their blocks back during process exit.
CentralList* Central() {
  static CentralList* const lists = new CentralList[kClassCount];
  return lists;
}

// A fresh run of kBatch blocks of one class, chained through |next|.
FreeBlock* NewSlab(int cls) {
  const size_t block = BlockBytes(kClassCapacities[cls]);
  auto* bytes =
      static_cast<std::byte*>(::operator new (block* kBatch, std::align_val_t{kBlockAlignment}));
  FreeBlock* first = nullptr;
  for (int i = kBatch - 1; i >= 0; --i) {
    auto* b = reinterpret_cast<FreeBlock*>(bytes + block * static_cast<size_t>(i));
    b->next = first;
    first = b;
    PoisonFree(b, cls);
  }
  return first;
}

// A thread's cache lives on the heap and goes back to the central lists when
// the thread ends. A thread that makes strings after that, in the last
// cleanups of its end, gets a new cache, which is handed back in turn.
struct ThreadCache {
  FreeBlock* head[kClassCount] = {};
  int count[kClassCount] = {};

  ~ThreadCache() {
    for (int cls = 0; cls < kClassCount; ++cls) {
      if (head[cls] != nullptr) Central()[cls].PutBatch(head[cls], count[cls]);
    }
  }
};

ThreadCache& Cache() {
  static auto* const caches = new wardex::platform::PerThread<ThreadCache>;  // as Central()
  return caches->Get();
}

void* TakeBlock(int cls) {
  ThreadCache& cache = Cache();
  FreeBlock*& head = cache.head[cls];
  if (head == nullptr) {
    int count = 0;
    head = Central()[cls].TakeBatch(count);
    if (head == nullptr) {
      head = NewSlab(cls);
      count = kBatch;
    }
    cache.count[cls] = count;
  }
  FreeBlock* block = head;
  head = block->next;
  --cache.count[cls];
  UnpoisonTaken(block, cls);
  return block;
}

void GiveBlock(int cls, void* memory) {
  auto* block = static_cast<FreeBlock*>(memory);
  PoisonFree(block, cls);
  ThreadCache& cache = Cache();
  block->next = cache.head[cls];
  cache.head[cls] = block;
  if (++cache.count[cls] < kCacheLimit) return;
  // Keep the most recently freed kBatch blocks; the older ones go back.
  FreeBlock* last_kept = block;
  for (int i = 1; i < kBatch; ++i) last_kept = last_kept->next;
  FreeBlock* handed = last_kept->next;
  last_kept->next = nullptr;
  cache.count[cls] = kBatch;
  Central()[cls].PutBatch(handed, kCacheLimit - kBatch);
}

}  // namespace

int StringCapacityFor(int length) {
  const int cls = ClassFor(length);
  return cls < 0 ? length : kClassCapacities[cls];
}

KaStringData* AllocStringData(int length) {
  const int cls = ClassFor(length);
  void* memory = cls < 0 ? ::operator new(BufferBytes(length)) : TakeBlock(cls);
  auto* data = static_cast<KaStringData*>(memory);
  data->nRefs = 1;
  data->nDataLength = length;
  data->nAllocLength = cls < 0 ? length : kClassCapacities[cls];
  data->data()[length] = 0;
  return data;
}

void FreeStringData(KaStringData* data) {
  const int cls = ClassOf(data->nAllocLength);
  if (cls < 0) {
    ::operator delete(data);
    return;
  }
  GiveBlock(cls, data);
}

}  // namespace KaOSAL::detail
