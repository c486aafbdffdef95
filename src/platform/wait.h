// Results and time-outs of the platform's waits, with the Windows values that
// callers compare against and log.
#pragma once

#include <cstdint>

namespace wardex::platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;

enum class WaitResult : uint32_t {
  kSignaled = 0,        // WAIT_OBJECT_0
  kTimeout = 258,       // WAIT_TIMEOUT
  kFailed = 0xFFFFFFFF  // WAIT_FAILED; the last error says why
};

}  // namespace wardex::platform
