#include "osal/thread_slots.h"

#include "osal/last_error.h"

namespace KaOSAL {
namespace {

thread_local void* t_slots[kThreadSlotCount] = {};

bool ValidIndex(int index) { return index >= 0 && index < kThreadSlotCount; }

}  // namespace

bool TlsSetValue(int index, void* value) {
  if (!ValidIndex(index)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  t_slots[index] = value;
  return true;
}

void* TlsGetValue(int index) {
  if (!ValidIndex(index)) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  SetLastError(kErrorSuccess);
  return t_slots[index];
}

}  // namespace KaOSAL
