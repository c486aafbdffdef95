#include "osal/error_text.h"

#include <cstring>
#include <string_view>

#include "osal/wide_format.h"

namespace KaOSAL {
namespace {

struct ErrorText {
  uint32_t code;
  std::u16string_view text;  // without the trailing "\r\n"
};

// Win32, WSA and WinINet codes. The WinINet texts have no full stop, as in
// the WinINet message table.
constexpr ErrorText kSystemTexts[] = {
    {0, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {4, u"The system cannot open the file."},
    {5, u"Access is denied."},
    {6, u"The handle is invalid."},
    {8, u"Not enough memory resources are available to process this command."},
    {13, u"The data is invalid."},
    {14, u"Not enough memory resources are available to complete this operation."},
    {17, u"The system cannot move the file to a different disk drive."},
    {19, u"The media is write protected."},
    {31, u"A device attached to the system is not functioning."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {50, u"The request is not supported."},
    {80, u"The file exists."},
    {87, u"The parameter is incorrect."},
    {109, u"The pipe has been ended."},
    {112, u"There is not enough space on the disk."},
    {122, u"The data area passed to a system call is too small."},
    {126, u"The specified module could not be found."},
    {127, u"The specified procedure could not be found."},
    {145, u"The directory is not empty."},
    {170, u"The requested resource is in use."},
    {183, u"Cannot create a file when that file already exists."},
    {193, u"%1 is not a valid Win32 application."},  // as given without inserts
    {206, u"The filename or extension is too long."},
    {223, u"The file size exceeds the limit allowed and cannot be saved."},
    {234, u"More data is available."},
    {259, u"No more data is available."},
    {1067, u"The process terminated unexpectedly."},
    {1117, u"The request could not be performed because of an I/O device error."},
    {1223, u"The operation was canceled by the user."},
    {1400, u"Invalid window handle."},
    {1460, u"This operation returned because the timeout period expired."},
    {1921, u"The name of the file cannot be resolved by the system."},
    {10004, u"A blocking operation was interrupted by a call to WSACancelBlockingCall."},
    {10035, u"A non-blocking socket operation could not be completed immediately."},
    {10036, u"A blocking operation is currently executing."},
    {10037,
     u"An operation was attempted on a non-blocking socket that already had an operation in "
     u"progress."},
    {10038, u"An operation was attempted on something that is not a socket."},
    {10040,
     u"A message sent on a datagram socket was larger than the internal message buffer or some "
     u"other network limit, or the buffer used to receive a datagram into was smaller than the "
     u"datagram itself."},
    {10047, u"An address incompatible with the requested protocol was used."},
    {10048,
     u"Only one usage of each socket address (protocol/network address/port) is normally "
     u"permitted."},
    {10049, u"The requested address is not valid in its context."},
    {10050, u"A socket operation encountered a dead network."},
    {10051, u"A socket operation was attempted to an unreachable network."},
    {10053, u"An established connection was aborted by the software in your host machine."},
    {10054, u"An existing connection was forcibly closed by the remote host."},
    {10056, u"A connect request was made on an already connected socket."},
    {10057,
     u"A request to send or receive data was disallowed because the socket is not connected and "
     u"(when sending on a datagram socket using a sendto call) no address was supplied."},
    {10060,
     u"A connection attempt failed because the connected party did not properly respond after "
     u"a period of time, or established connection failed because connected host has failed to "
     u"respond."},
    {10061, u"No connection could be made because the target machine actively refused it."},
    {10064, u"A socket operation failed because the destination host was down."},
    {10065, u"A socket operation was attempted to an unreachable host."},
    {12002, u"The operation timed out"},
    {12007, u"The server name or address could not be resolved"},
    {12029, u"A connection with the server could not be established"},
};

// HRESULTs of their own (not of facility Win32).
constexpr ErrorText kHresultTexts[] = {
    {0x80004001, u"Not implemented"},
    {0x80004002, u"No such interface supported"},
    {0x80004003, u"Invalid pointer"},
    {0x80004004, u"Operation aborted"},
    {0x80004005, u"Unspecified error"},
    {0x8000FFFF, u"Catastrophic failure"},
    {0x80010106, u"Cannot change thread mode after it is set."},
    {0x80040154, u"Class not registered"},
    {0x800401F0, u"CoInitialize has not been called."},
};

constexpr uint32_t kFacilityWin32Mask = 0xFFFF0000;
constexpr uint32_t kFacilityWin32 = 0x80070000;
constexpr uint32_t kErrnoMask = 0x0000FFFF;
constexpr char16_t kLineEnd[] = u"\r\n";

template <size_t N>
const ErrorText* Find(const ErrorText (&table)[N], uint32_t code) {
  for (const ErrorText& entry : table) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

// The C library's text of an errno value; false for a value it does not know.
bool ErrnoText(int errno_value, std::u16string& out) {
  // glibc's strerror returns static texts for known values (thread-safe);
  // unknown ones come back as "Unknown error N".
  const char* text = std::strerror(errno_value);
  if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return false;
  out = FromUtf8(text, std::strlen(text)) + kLineEnd;
  return true;
}

}  // namespace

bool GetErrorText(uint32_t code, std::u16string& out) {
  if ((code & ~kErrnoMask) == kErrnoErrorBase) {
    return ErrnoText(static_cast<int>(code & kErrnoMask), out);
  }
  const ErrorText* entry = nullptr;
  if ((code & kFacilityWin32Mask) == kFacilityWin32) {
    entry = Find(kSystemTexts, code & ~kFacilityWin32Mask);
  } else {
    entry = Find(kSystemTexts, code);
    if (entry == nullptr) entry = Find(kHresultTexts, code);
  }
  if (entry == nullptr) return false;
  out.assign(entry->text);
  out += kLineEnd;
  return true;
}

}  // namespace KaOSAL
