// The crash handler's tests' probe: installs the handler and fails as |fault|
// says, in a forked child on Linux and in the probe program on Windows.
// Returns 42 when the process survives, 2 for an unknown fault.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#endif

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include "platform/seh_guard.h"
#endif
#include "support/faults.h"
#include "wardex/crashlog.h"

namespace wardex::test {

inline void Throw() { throw std::runtime_error("boom"); }
inline void (*volatile g_throw)() = Throw;
inline void ThrowThroughNoexcept() noexcept { g_throw(); }

#if defined(_WIN32)
// A filter installed before the crash handler that lets raised exceptions
// go on where they were raised.
inline LONG WINAPI ContinueRaised(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_EXECUTION; }
#endif

inline int CommitFault(const std::string& fault) {
#if defined(_WIN32)
  if (fault == "filter-continues") SetUnhandledExceptionFilter(&ContinueRaised);
#else
  // The sanitizers install their own handlers; a probe starts from the default.
  for (int signal_number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
    signal(signal_number, SIG_DFL);
#endif
  SetComputerId(u"TEST-COMPUTER-42");
#if !defined(_WIN32)
  // The platform's structured-exception guard puts its handlers in front with
  // its first use: before the crash handler, or after it. The crash handler
  // chains to a guard below it, which takes its own faults.
  const auto handle = [](WardexExceptionPointers*) { return kExceptionExecuteHandler; };
  if (fault.starts_with("guard-below")) (void)platform::RunGuarded([] {}, handle);
  InstallCrashHandler();
  if (fault == "removed-below-a-guard") (void)platform::RunGuarded([] {}, handle);
  if (fault == "guard-below-inside") return platform::RunGuarded(&DereferenceNull, handle) ? 2 : 42;
#else
  InstallCrashHandler();
#endif
  if (fault == "installed-twice") InstallCrashHandler();
  if (fault == "removed" || fault == "removed-below-a-guard") RemoveCrashHandler();

  if (fault == "access-violation" || fault == "installed-twice" || fault.starts_with("removed") ||
      fault.starts_with("guard-below")) {
    DereferenceNull();
  } else if (fault == "divide-by-zero") {
    DivideByZero();
  } else if (fault == "illegal-instruction") {
    __builtin_trap();
  } else if (fault == "stack-overflow") {
    OverflowTheStack();
  } else if (fault == "abort") {
    abort();
  } else if (fault == "terminate") {
    SetTerminateExceptionHandler();
    ThrowThroughNoexcept();
  } else if (fault == "other-thread") {
    std::thread(&DereferenceNull).join();
#if defined(_WIN32)
  } else if (fault == "raised" || fault == "filter-continues") {
    RaiseException(0xE0000001, 0, 0, nullptr);
#else
  } else if (fault == "bus-error") {
    TouchBeyondEndOfFile();
#endif
  } else {
    return 2;
  }
  return 42;
}

}  // namespace wardex::test
