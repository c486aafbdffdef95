#include "platform/thread_end.h"

#include <cstdlib>

#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

// What a fiber-local slot holds: the callback of the system takes the
// system's calling convention and gets only the value, so the value carries
// its cleanup.
struct Held {
  ThreadEndSlot::Cleanup cleanup;
  void* value;
};

void NTAPI CleanUp(void* data) {
  auto* held = static_cast<Held*>(data);
  if (held->value != nullptr) held->cleanup(held->value);
  delete held;
}

}  // namespace

// Fiber-local storage's callbacks run as each thread ends, whoever started
// it (CreateThread, the C runtime, winpthread).
ThreadEndSlot::ThreadEndSlot(Cleanup cleanup) : cleanup_(cleanup) {
  const DWORD index = FlsAlloc(&CleanUp);
  if (index == FLS_OUT_OF_INDEXES) std::abort();  // the process is out of slots
  key_ = index;
}

void* ThreadEndSlot::Get() const {
  const auto* held = static_cast<const Held*>(FlsGetValue(key_));
  return held != nullptr ? held->value : nullptr;
}

void ThreadEndSlot::Set(void* value) {
  auto* held = static_cast<Held*>(FlsGetValue(key_));
  if (held == nullptr) {
    if (value == nullptr) return;
    held = new Held{cleanup_, nullptr};
    FlsSetValue(key_, held);
  }
  held->value = value;
}

}  // namespace wardex::platform
