#include "platform/privileged_instruction.h"

namespace wardex::platform {

// Faults with EXCEPTION_PRIV_INSTRUCTION (0xC0000096) in user mode.
void ExecutePrivilegedInstruction() { asm volatile("wbinvd" ::: "memory"); }

}  // namespace wardex::platform
