// Hardware faults become structured exceptions through one vectored handler,
// added first in the chain by the first guard of the process. On the faulting
// thread it jumps (__builtin_longjmp, which unwinds nothing) into the
// innermost active guard, which then asks the filter. Vectored handlers see
// an exception before any frame does, so only the codes of faults are taken
// (seh_guard.h); everything else goes on to the frames' handlers and, when
// none handles it, to the crash handler's unhandled-exception filter, whose
// vectored stack-overflow handler sits at the end of the chain, after ours.
//
// A stack overflow is taken while the guard page's last room is left; back
// in the guard, _resetstkoflw arms the guard page again, so that the next
// overflow of the thread is caught as well.
#include <malloc.h>

#include <cstdint>
#include <mutex>

#include "platform/seh_guard.h"
#include "platform/seh_guard_internal.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

struct GuardFrame {
  void* jump[5];  // what __builtin_setjmp keeps
  GuardFrame* outer = nullptr;
  WardexExceptionRecord fault{};
};

thread_local GuardFrame* t_innermost = nullptr;

// The codes of faults of the running code, which a guard takes.
bool IsFault(uint32_t code) {
  static constexpr uint32_t kFaults[] = {
      kExceptionDatatypeMisalignment,  kExceptionAccessViolation,
      kExceptionInPageError,           kExceptionIllegalInstruction,
      kExceptionArrayBoundsExceeded,   kExceptionFloatDenormalOperand,
      kExceptionFloatDivideByZero,     kExceptionFloatInexactResult,
      kExceptionFloatInvalidOperation, kExceptionFloatOverflow,
      kExceptionFloatUnderflow,        kExceptionIntDivideByZero,
      kExceptionIntOverflow,           kExceptionPrivilegedInstruction,
      kExceptionStackOverflow,
  };
  for (uint32_t fault : kFaults) {
    if (fault == code) return true;
  }
  return false;
}

LONG WINAPI OnException(EXCEPTION_POINTERS* pointers) {
  GuardFrame* frame = t_innermost;
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (frame == nullptr || !IsFault(record.ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  frame->fault = {record.ExceptionCode, record.ExceptionAddress, 0, 0};
  __builtin_longjmp(frame->jump, 1);
}

// Puts our handler first in the vectored chain, once per process.
void InstallHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] { AddVectoredExceptionHandler(1, &OnException); });
}

}  // namespace

bool RunGuarded(const std::function<void()>& body, const ExceptionFilterFunction& filter,
                WardexExceptionRecord* caught) {
  InstallHandler();
  GuardFrame frame;
  frame.outer = t_innermost;
  if (__builtin_setjmp(frame.jump) == 0) {
    t_innermost = &frame;
    return RunCatchingCppExceptions(body, filter, caught, [&] { t_innermost = frame.outer; });
  }
  // Back from a fault of the body.
  t_innermost = frame.outer;
  if (frame.fault.code == kExceptionStackOverflow) _resetstkoflw();
  if (FilterHandles(frame.fault, filter, caught)) return false;
  throw StructuredException(frame.fault);
}

}  // namespace wardex::platform
