// The crash handler's tests' probe: installs the handler and fails as |fault|
// says, in a forked child on Linux and in the probe program on Windows.
// Returns 42 when the process survives, 2 for an unknown fault.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <setjmp.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

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
#else
// A structured-exception guard of the platform layer, as the crash handler
// meets it: handles a fault inside its region by jumping back, else chains;
// a second call for one fault ends the probe with 43.
inline sigjmp_buf g_guard_jump;
inline volatile sig_atomic_t g_guard_active = 0;
inline volatile sig_atomic_t g_guard_calls = 0;
inline struct sigaction g_guard_previous;

inline void GuardHandler(int signal_number, siginfo_t* info, void* context) {
  g_guard_calls = g_guard_calls + 1;
  if (g_guard_calls > 1) _exit(43);
  if (g_guard_active) siglongjmp(g_guard_jump, 1);
  if ((g_guard_previous.sa_flags & SA_SIGINFO) && g_guard_previous.sa_sigaction != nullptr) {
    g_guard_previous.sa_sigaction(signal_number, info, context);
  }
}

inline void InstallGuard() {
  struct sigaction guard {};
  guard.sa_sigaction = GuardHandler;
  guard.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&guard.sa_mask);
  sigaction(SIGSEGV, &guard, &g_guard_previous);
}
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
  // A guard installed before the handler, or after it.
  if (fault.starts_with("guard-below")) InstallGuard();
  InstallCrashHandler();
  if (fault == "removed-below-a-guard") InstallGuard();
  g_guard_active = fault == "guard-below-inside";
  if (g_guard_active && sigsetjmp(g_guard_jump, 1) != 0) return 42;
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
