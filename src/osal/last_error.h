// The platform's "last error": a thread-local Win32 error code that every
// platform call sets, so that log lines and results that the system defines
// as Windows codes carry them. It lives in libkaosal.so so that each thread
// has exactly one in the whole process.
#pragma once

#include <cstdint>

#include "osal/osal_export.h"

namespace KaOSAL {

// Win32 error codes that the system logs or returns.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorBrokenPipe = 109;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorServiceProcessAborted =
    1067;  // "The process terminated unexpectedly."
inline constexpr uint32_t kErrorInvalidWindowHandle = 1400;
inline constexpr uint32_t kErrorTimeout = 1460;
inline constexpr uint32_t kWsaTimedOut = 10060;

KAOSAL_API uint32_t GetLastError();
KAOSAL_API void SetLastError(uint32_t code);
// The Win32 code that stands for an errno value (ENOENT 2, EACCES 5, ...).
KAOSAL_API uint32_t Win32ErrorFromErrno(int errno_value);
// Sets the last error from an errno value and returns the Win32 code.
KAOSAL_API uint32_t SetLastErrorFromErrno(int errno_value);

}  // namespace KaOSAL
