// Listing the entries of a folder, in the order the file system returns them.
#pragma once

#include <vector>

#include "osal/ka_string.h"

namespace wardex::platform {

struct DirectoryEntry {
  KaOSAL::KaString name;
  bool is_directory = false;  // after following a symbolic link
};

// Every entry of |folder| but "." and "..", in the file system's order.
// False with the last error set when the folder cannot be read.
[[nodiscard]] bool ListDirectory(const KaOSAL::KaString& folder,
                                 std::vector<DirectoryEntry>& entries);

}  // namespace wardex::platform
