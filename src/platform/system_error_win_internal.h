// Helpers the Windows platform files share for the system's errors and waits.
#pragma once

#include <cstdint>

#include "osal/last_error.h"
#include "platform/wait.h"
#include "platform/windows_api.h"

namespace wardex::platform {

// Sets our last error from the system's, for a call that just failed.
inline void KeepSystemError() { KaOSAL::SetLastError(::GetLastError()); }

// Waits for |object| as WaitForSingleObject does; a failure keeps the
// system's error.
inline WaitResult WaitForObject(HANDLE object, uint32_t timeout_ms) {
  switch (WaitForSingleObject(object, timeout_ms)) {
    case WAIT_OBJECT_0:
      return WaitResult::kSignaled;
    case WAIT_TIMEOUT:
      return WaitResult::kTimeout;
    default:
      KeepSystemError();
      return WaitResult::kFailed;
  }
}

}  // namespace wardex::platform
