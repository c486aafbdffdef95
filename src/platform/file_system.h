// The few file operations the configuration layer needs, on UTF-16 paths.
#pragma once

#include "osal/ka_string.h"

namespace wardex::platform {

bool FileExists(const KaOSAL::KaString& path);       // a regular file (after symlinks)
bool DirectoryExists(const KaOSAL::KaString& path);  // a folder (after symlinks)
// Copies |source| to |target| unless |target| exists; the new file is made
// complete under a temporary name first. False with the last error set.
[[nodiscard]] bool CopyFileNoOverwrite(const KaOSAL::KaString& source,
                                       const KaOSAL::KaString& target);

}  // namespace wardex::platform
