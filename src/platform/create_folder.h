// Folder creation, as the computer identifier's store needs it.
#pragma once

#include "osal/ka_string.h"

namespace wardex::platform {

// Creates |path| with its missing parents (mode 0755 less the umask, or
// exactly 0755 when |readable_by_all|). True when the folder exists
// afterwards; false with the last error set.
[[nodiscard]] bool CreateFolder(const KaOSAL::KaString& path, bool readable_by_all = false);

}  // namespace wardex::platform
