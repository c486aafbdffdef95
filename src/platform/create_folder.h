// Folder creation and file modes, as the computer identifier's machine-wide
// store needs them: every user must read what the first one wrote, whatever
// that user's umask.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"

namespace wardex::platform {

// Creates |path| with its missing parents (mode 0755 less the umask, or
// exactly 0755 when |readable_by_all|). True when the folder exists
// afterwards; false with the last error set.
[[nodiscard]] bool CreateFolder(const KaOSAL::KaString& path, bool readable_by_all = false);

// True when |path| is a folder, not a link, owned by root or by this user,
// that no one else may write to: only then can nobody else have put a link
// or a file of theirs in it. False with the last error set (5 otherwise).
[[nodiscard]] bool IsFolderOfOwnerOrRoot(const KaOSAL::KaString& path);

// Gives the file or folder |path| exactly |mode|, without following a
// symbolic link. False with the last error set (5 when it belongs to
// another user).
[[nodiscard]] bool SetFileMode(const KaOSAL::KaString& path, uint32_t mode);

}  // namespace wardex::platform
