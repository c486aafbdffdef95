#include "platform/privileged_instruction.h"

#include <csignal>

namespace wardex::platform {

void ExecutePrivilegedInstruction() {
#if defined(__x86_64__) || defined(__i386__)
  // Faults with SIGSEGV (si_code SI_KERNEL) in user mode.
  asm volatile("wbinvd" ::: "memory");
#else
  // Other processors have no such instruction reachable from C++; a raised
  // SIGILL stands for it.
  std::raise(SIGILL);
#endif
}

}  // namespace wardex::platform
