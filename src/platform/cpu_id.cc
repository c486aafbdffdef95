#include "platform/cpu_id.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace wardex::platform {

CpuIdentification GetCpuIdentification() {
  CpuIdentification identification{0, 0};
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) identification = {eax, edx};
#endif
  return identification;
}

}  // namespace wardex::platform
