// Per-thread values that their owner cleans up when the thread ends. A
// thread_local object with a destructor cannot do that on Windows: there
// thread_local variables live in GCC's emulated TLS, which frees a thread's
// variables before their destructors run, so each destructor would work on
// freed memory. The Windows build refuses such variables. Part of libkaosal,
// whose string pool and formatting need it.
#pragma once

#include "osal/osal_export.h"

namespace wardex::platform {

class KAOSAL_API ThreadEndSlot {
 public:
  using Cleanup = void (*)(void* value);

  // |cleanup| gets each thread's value, unless null, when that thread ends.
  // Meant for objects that live as long as the process.
  explicit ThreadEndSlot(Cleanup cleanup);
  ThreadEndSlot(const ThreadEndSlot&) = delete;
  ThreadEndSlot& operator=(const ThreadEndSlot&) = delete;

  // The calling thread's value; null until it sets one.
  void* Get() const;
  // Sets the calling thread's value; the one before is not cleaned up.
  void Set(void* value);

 private:
  Cleanup cleanup_;
  unsigned long key_ = 0;
};

// One object of type T for each thread that asks, made on first use and
// deleted when its thread ends.
template <typename T>
class PerThread {
 public:
  PerThread() : slot_([](void* object) { delete static_cast<T*>(object); }) {}

  T& Get() {
    auto* object = static_cast<T*>(slot_.Get());
    if (object == nullptr) {
      object = new T();
      slot_.Set(object);
    }
    return *object;
  }

 private:
  ThreadEndSlot slot_;
};

}  // namespace wardex::platform
