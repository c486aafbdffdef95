// The system message texts of the error codes that the agent logs or
// returns, in English as the Windows message table words them, so that a
// log line reads the same on every platform.
#pragma once

#include <cstdint>
#include <string>

#include "osal/osal_export.h"

namespace KaOSAL {

// An errno value carried as an error code: this base (the Windows
// "customer" bit, never set in a system code) or'ed with the errno value.
inline constexpr uint32_t kErrnoErrorBase = 0x20000000;

// Sets |out| to the message text of |code| and returns true; returns false
// (and leaves |out| alone) when there is none. Texts end in "\r\n" as the
// Windows ones do. |code| is a Win32 code, a WSA or WinINet code, an HRESULT
// (one of facility Win32 gives the text of its Win32 code) or
// kErrnoErrorBase | errno.
[[nodiscard]] KAOSAL_API bool GetErrorText(uint32_t code, std::u16string& out);

}  // namespace KaOSAL
