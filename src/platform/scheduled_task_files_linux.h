// Linux only: the names of a scheduled task's files.
#pragma once

#include <string>

#include "osal/ka_string.h"

namespace wardex::platform {

// The file names of the task |name|: the escaped name (as systemd escapes
// unit names) with ".desktop", ".timer" and ".service".
[[nodiscard]] std::string EscapedTaskName(const KaOSAL::KaString& name);

}  // namespace wardex::platform
