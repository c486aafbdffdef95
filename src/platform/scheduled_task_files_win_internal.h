// The Run value that stands for the autostart entry on NT 5 systems, under
// HKLM for the machine's scope and HKCU for the user's: the quoted program.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"
#include "platform/scheduled_task_files.h"

namespace wardex::platform {

// 0 or the registry's Win32 code.
[[nodiscard]] uint32_t WriteRunValue(const KaOSAL::KaString& name, const KaOSAL::KaString& program,
                                     TaskScope scope);
[[nodiscard]] uint32_t RemoveRunValue(const KaOSAL::KaString& name, TaskScope scope);
[[nodiscard]] bool RunValueExists(const KaOSAL::KaString& name, TaskScope scope);

}  // namespace wardex::platform
