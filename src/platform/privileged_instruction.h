// A processor instruction that only the kernel may execute, for the agent's
// crash-handler test: in a user process it faults, which a structured-
// exception guard reports as a privileged instruction (0xC0000096).
#pragma once

namespace wardex::platform {

// Executes a cache-control instruction reserved to the kernel (WBINVD on x86);
// returns only when a guard takes the fault.
void ExecutePrivilegedInstruction();

}  // namespace wardex::platform
