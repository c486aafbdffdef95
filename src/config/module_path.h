// The agent's own files: the running executable and the module that holds
// the calling code.
#pragma once

#include "osal/ka_string.h"

namespace wardex {

// The full path of the running executable.
KaOSAL::KaString GetExecutablePath();

// The full path of the executable or library that holds the code calling this
// function (for the agent itself the same file as GetExecutablePath).
KaOSAL::KaString GetModuleFilePath();

}  // namespace wardex
