// The process's current directory (SetCurrentDirectoryW).
#pragma once

#include "osal/ka_string.h"

namespace wardex::platform {

// Makes |folder| the process's current directory. False with the last error
// set (2 missing, 5 access denied, 267 not a folder).
[[nodiscard]] bool SetCurrentDirectory(const KaOSAL::KaString& folder);

}  // namespace wardex::platform
