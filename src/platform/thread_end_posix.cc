#include "platform/thread_end.h"

#include <pthread.h>

#include <cstdlib>

namespace wardex::platform {

// The key's destructor gets the value itself, never the thread's storage.
ThreadEndSlot::ThreadEndSlot(Cleanup cleanup) : cleanup_(cleanup) {
  pthread_key_t key;
  if (pthread_key_create(&key, cleanup_) != 0) std::abort();  // the process is out of keys
  key_ = key;
}

void* ThreadEndSlot::Get() const { return pthread_getspecific(static_cast<pthread_key_t>(key_)); }

void ThreadEndSlot::Set(void* value) {
  (void)pthread_setspecific(static_cast<pthread_key_t>(key_), value);
}

}  // namespace wardex::platform
