#include "osal/last_error.h"

#include <cerrno>

namespace KaOSAL {
namespace {

// The Win32 code used for an errno value the table does not know.
constexpr uint32_t kErrorGenFailure = 31;

thread_local uint32_t t_last_error = kErrorSuccess;

struct ErrnoMapping {
  int errno_value;
  uint32_t win32_code;
};

// What the Windows call that stands behind each platform call would have
// reported. EEXIST maps to ERROR_ALREADY_EXISTS (183), the code of an
// existing named object or folder; a caller that creates a new file and
// needs ERROR_FILE_EXISTS (80) sets that itself. Socket errors map to the
// WSA codes. Aliases (EWOULDBLOCK, ENOTSUP) equal their partners on Linux;
// the first match wins, so listing both is harmless elsewhere. Windows' C
// runtime lacks a few of the values.
constexpr ErrnoMapping kErrnoTable[] = {
    {0, kErrorSuccess},
    {ENOENT, kErrorFileNotFound},
    {ENOTDIR, kErrorPathNotFound},
    {ELOOP, 1921},  // ERROR_CANT_RESOLVE_FILENAME
    {EMFILE, kErrorTooManyOpenFiles},
    {ENFILE, kErrorTooManyOpenFiles},
    {EACCES, kErrorAccessDenied},
    {EPERM, kErrorAccessDenied},
    {EISDIR, kErrorAccessDenied},  // opening a folder as a file
    {EBADF, kErrorInvalidHandle},
    {ENOMEM, kErrorNotEnoughMemory},
    {EROFS, 19},    // ERROR_WRITE_PROTECT
    {EXDEV, 17},    // ERROR_NOT_SAME_DEVICE
    {ETXTBSY, 32},  // ERROR_SHARING_VIOLATION
    {EEXIST, kErrorAlreadyExists},
    {EINVAL, kErrorInvalidParameter},
    {ENOSYS, 50},  // ERROR_NOT_SUPPORTED
    {EOPNOTSUPP, 50},
    {ENOTSUP, 50},
    {EPIPE, kErrorBrokenPipe},
    {ENOSPC, 112},  // ERROR_DISK_FULL
#if defined(EDQUOT)
    {EDQUOT, 112},
#endif
    {ENOTEMPTY, 145},     // ERROR_DIR_NOT_EMPTY
    {EBUSY, 170},         // ERROR_BUSY
    {ENOEXEC, 193},       // ERROR_BAD_EXE_FORMAT
    {ENAMETOOLONG, 206},  // ERROR_FILENAME_EXCED_RANGE
    {EFBIG, 223},         // ERROR_FILE_TOO_LARGE
    {EIO, 1117},          // ERROR_IO_DEVICE
    {ECANCELED, 1223},    // ERROR_CANCELLED
    {EINTR, 10004},       // WSAEINTR
    {EMSGSIZE, 10040},    // WSAEMSGSIZE
    {EAGAIN, 10035},      // WSAEWOULDBLOCK
    {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},       // WSAEINPROGRESS
    {EALREADY, 10037},          // WSAEALREADY
    {ENOTSOCK, 10038},          // WSAENOTSOCK
    {EAFNOSUPPORT, 10047},      // WSAEAFNOSUPPORT
    {EADDRINUSE, 10048},        // WSAEADDRINUSE
    {EADDRNOTAVAIL, 10049},     // WSAEADDRNOTAVAIL
    {ENETDOWN, 10050},          // WSAENETDOWN
    {ENETUNREACH, 10051},       // WSAENETUNREACH
    {ECONNABORTED, 10053},      // WSAECONNABORTED
    {ECONNRESET, 10054},        // WSAECONNRESET
    {EISCONN, 10056},           // WSAEISCONN
    {ENOTCONN, 10057},          // WSAENOTCONN
    {ETIMEDOUT, kWsaTimedOut},  // WSAETIMEDOUT
    {ECONNREFUSED, 10061},      // WSAECONNREFUSED
#if defined(EHOSTDOWN)
    {EHOSTDOWN, 10064},  // WSAEHOSTDOWN
#endif
    {EHOSTUNREACH, 10065},  // WSAEHOSTUNREACH
};

}  // namespace

uint32_t GetLastError() { return t_last_error; }

void SetLastError(uint32_t code) { t_last_error = code; }

uint32_t Win32ErrorFromErrno(int errno_value) {
  for (const ErrnoMapping& mapping : kErrnoTable) {
    if (mapping.errno_value == errno_value) return mapping.win32_code;
  }
  return kErrorGenFailure;
}

uint32_t SetLastErrorFromErrno(int errno_value) {
  const uint32_t code = Win32ErrorFromErrno(errno_value);
  SetLastError(code);
  return code;
}

}  // namespace KaOSAL
