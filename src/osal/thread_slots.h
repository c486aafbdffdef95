// Thread-local storage slots by index, standing in for the platform's TLS
// indexes: each thread sees its own value in each slot, null until set. They
// live in libkaosal.so so that every module of the process sees the same slots.
#pragma once

#include "osal/osal_export.h"

namespace KaOSAL {

inline constexpr int kThreadSlotCount = 16;

// Stores |value| in the calling thread's slot |index|. False, with last error
// 87 (invalid parameter), for an index outside 0..kThreadSlotCount-1.
[[nodiscard]] KAOSAL_API bool TlsSetValue(int index, void* value);
// The calling thread's value in slot |index|; null with last error 87 for an
// index out of range, else last error 0, as the platform call it stands for.
KAOSAL_API void* TlsGetValue(int index);

}  // namespace KaOSAL
