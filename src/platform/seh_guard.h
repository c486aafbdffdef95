// Structured exceptions: a guard that runs a function and hands every
// exception that escapes it to a filter with an exception record, as a
// __try/__except block does on Windows. Three kinds are caught:
// - raised exception codes (RaiseException below, a C++ type carrying the code);
// - any other C++ exception (code kExceptionCppException);
// - hardware faults of the guarded thread, including a stack overflow,
//   returned into the innermost guard: on Linux the signals SIGSEGV, SIGBUS,
//   SIGFPE and SIGILL; on Windows the exceptions with the codes below (also
//   when RaiseException of the system raised them), taken by a vectored
//   handler before any frame's handler sees them. Other codes that the
//   system raises are left to the frames' handlers and the crash handler.
// Returning from a fault skips the destructors of the frames between the
// fault and the guard, as Windows does for a structured exception.
#pragma once

#include <cstdint>
#include <functional>

#include "wardex/crashlog.h"

namespace wardex::platform {

// Windows exception codes.
inline constexpr uint32_t kExceptionDatatypeMisalignment = 0x80000002;
inline constexpr uint32_t kExceptionAccessViolation = 0xC0000005;
inline constexpr uint32_t kExceptionInPageError = 0xC0000006;
inline constexpr uint32_t kExceptionInvalidHandle = 0xC0000008;
inline constexpr uint32_t kExceptionInvalidParameter = 0xC000000D;
inline constexpr uint32_t kExceptionIllegalInstruction = 0xC000001D;
inline constexpr uint32_t kExceptionInvalidDisposition = 0xC0000026;
inline constexpr uint32_t kExceptionArrayBoundsExceeded = 0xC000008C;
inline constexpr uint32_t kExceptionFloatDenormalOperand = 0xC000008D;
inline constexpr uint32_t kExceptionFloatDivideByZero = 0xC000008E;
inline constexpr uint32_t kExceptionFloatInexactResult = 0xC000008F;
inline constexpr uint32_t kExceptionFloatInvalidOperation = 0xC0000090;
inline constexpr uint32_t kExceptionFloatOverflow = 0xC0000091;
inline constexpr uint32_t kExceptionFloatUnderflow = 0xC0000093;
inline constexpr uint32_t kExceptionIntDivideByZero = 0xC0000094;
inline constexpr uint32_t kExceptionIntOverflow = 0xC0000095;
inline constexpr uint32_t kExceptionPrivilegedInstruction = 0xC0000096;
inline constexpr uint32_t kExceptionStackOverflow = 0xC00000FD;
inline constexpr uint32_t kExceptionCppException = 0xE06D7363;  // what MSVC raises for `throw`

// The C++ exception that carries a structured exception through the stack.
class StructuredException {
 public:
  explicit StructuredException(const WardexExceptionRecord& record) : record_(record) {}
  [[nodiscard]] const WardexExceptionRecord& record() const { return record_; }
  [[nodiscard]] uint32_t code() const { return record_.code; }

 private:
  WardexExceptionRecord record_;
};

// Raises |code| as a structured exception at the caller's address.
[[noreturn]] void RaiseException(uint32_t code);

// Judges a caught exception: kExceptionExecuteHandler ends the guard,
// anything else lets the exception go on to the next outer guard.
using ExceptionFilterFunction = std::function<int(WardexExceptionPointers*)>;

// Runs |body| under a guard. True when it returned normally; false when an
// exception escaped it and |filter| handled it (the record then goes to
// |caught| when given). When the filter does not handle it, the exception
// goes on: a C++ exception as itself, a fault as a StructuredException. The
// forced unwind of a cancelled thread is never caught.
[[nodiscard]] bool RunGuarded(const std::function<void()>& body,
                              const ExceptionFilterFunction& filter,
                              WardexExceptionRecord* caught = nullptr);

}  // namespace wardex::platform
