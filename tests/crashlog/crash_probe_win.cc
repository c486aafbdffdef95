// Installs the crash handler and fails as its one argument says, for the
// crash handler's tests on Windows. Exits 42 when it survives.
#include <windows.h>

#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "wardex/crashlog.h"

namespace {

void WriteToNull() { *static_cast<volatile int*>(nullptr) = 1; }

void DivideByZero() {
  volatile int dividend = 7;
  volatile int zero = 0;
  volatile int result = dividend / zero;
  (void)result;
}

// Frames well below a page: Wine needs some stack left below the guard page
// to hand the overflow to a handler at all.
__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[256];
  frame[0] = static_cast<char>(depth);
  if (depth == INT_MAX) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

void Throw() { throw std::runtime_error("boom"); }
void (*volatile g_throw)() = Throw;
void ThrowThroughNoexcept() noexcept { g_throw(); }

// A filter installed before the crash handler that lets raised exceptions
// go on where they were raised.
LONG WINAPI ContinueRaised(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_EXECUTION; }

}  // namespace

int main(int argc, char** argv) {
  const std::string fault = argc > 1 ? argv[1] : "";
  SetComputerId(u"TEST-COMPUTER-42");
  if (fault == "filter-continues") SetUnhandledExceptionFilter(&ContinueRaised);
  InstallCrashHandler();
  if (fault == "installed-twice") InstallCrashHandler();
  if (fault == "removed") RemoveCrashHandler();

  if (fault == "access-violation" || fault == "installed-twice" || fault == "removed") {
    WriteToNull();
  } else if (fault == "divide-by-zero") {
    DivideByZero();
  } else if (fault == "illegal-instruction") {
    __builtin_trap();
  } else if (fault == "privileged-instruction") {
    asm volatile("hlt");
  } else if (fault == "stack-overflow") {
    (void)Recurse(0);
  } else if (fault == "raised" || fault == "filter-continues") {
    RaiseException(0xE0000001, 0, 0, nullptr);
  } else if (fault == "abort") {
    abort();
  } else if (fault == "terminate") {
    SetTerminateExceptionHandler();
    ThrowThroughNoexcept();
  } else if (fault == "other-thread") {
    std::thread(&WriteToNull).join();
  } else {
    return 2;
  }
  return 42;
}
