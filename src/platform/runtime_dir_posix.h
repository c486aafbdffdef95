// The user's private runtime folder for objects that the suite's processes
// share: $XDG_RUNTIME_DIR/wardex, or /tmp/wardex-<uid> where XDG_RUNTIME_DIR
// is unset (no login session) or names a folder of another user. The folder is created with mode
// 0700 when missing and is used only when it is a real folder (not a link) owned by the user with
// no access for group or others; anything else is refused, so that another user cannot plant or
// watch the objects.
#pragma once

#include "osal/ka_string.h"

namespace wardex::platform {

// The folder's path (no trailing "/"), or empty with the last error set:
// 5 (access denied) when the folder exists but fails the checks.
[[nodiscard]] KaOSAL::KaString GetRuntimeFolder();

}  // namespace wardex::platform
