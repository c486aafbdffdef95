// The processor's identification for CPUID function 1.
#pragma once

#include <cstdint>

namespace wardex::platform {

struct CpuIdentification {
  uint32_t signature;  // EAX: family, model, stepping
  uint32_t features;   // EDX: feature flags
};

// Zeros on a processor without CPUID.
[[nodiscard]] CpuIdentification GetCpuIdentification();

}  // namespace wardex::platform
