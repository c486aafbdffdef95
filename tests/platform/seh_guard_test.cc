#include "platform/seh_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "support/test_env.h"

namespace wardex::platform {
namespace {

// A filter that records what it saw and answers |verdict|.
struct RecordingFilter {
  int verdict = kExceptionExecuteHandler;
  int calls = 0;
  WardexExceptionRecord seen{};

  ExceptionFilterFunction AsFunction() {
    return [this](WardexExceptionPointers* pointers) {
      ++calls;
      seen = *pointers->record;
      return verdict;
    };
  }
};

// The faults below are on purpose: UBSan must not stop them first. Reads,
// so that threads faulting at once do not race on address 0.
__attribute__((no_sanitize("undefined"))) void DereferenceNull() {
  volatile int* pointer = nullptr;
  (void)*pointer;
}

__attribute__((no_sanitize("undefined"))) void DivideByZero() {
  volatile int zero = 0;
  volatile int dividend = 1000;
  volatile int result = dividend / zero;
  (void)result;
}

void ExecuteUndefinedInstruction() { __builtin_trap(); }

void ExecutePrivilegedInstruction() { asm volatile("hlt"); }

// Touches a page of a file mapping that lies beyond the end of the file.
void TouchBeyondEndOfFile() {
  char path[] = "/tmp/wardex-sigbus-XXXXXX";
  const int fd = mkstemp(path);
  unlink(path);
  auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
  close(fd);
  (void)page[0];
}

TEST(SehGuardTest, EachKindOfExceptionArrivesWithItsCode) {
  struct Case {
    const char* what;
    void (*body)();
    uint32_t code;
    int signal_number;
    int signal_code;
  };
  const Case kCases[] = {
      {"raised access violation", [] { RaiseException(kExceptionAccessViolation); },
       kExceptionAccessViolation, 0, 0},
      {"raised invalid parameter", [] { RaiseException(kExceptionInvalidParameter); },
       kExceptionInvalidParameter, 0, 0},
      {"raised invalid disposition", [] { RaiseException(kExceptionInvalidDisposition); },
       kExceptionInvalidDisposition, 0, 0},
      {"raised invalid handle", [] { RaiseException(kExceptionInvalidHandle); },
       kExceptionInvalidHandle, 0, 0},
      {"C++ exception", [] { throw std::runtime_error("boom"); }, kExceptionCppException, 0, 0},
      {"C++ int", [] { throw 7; }, kExceptionCppException, 0, 0},
      {"null pointer", &DereferenceNull, kExceptionAccessViolation, SIGSEGV, SEGV_MAPERR},
      {"divide by zero", &DivideByZero, kExceptionIntDivideByZero, SIGFPE, FPE_INTDIV},
      {"undefined instruction", &ExecuteUndefinedInstruction, kExceptionIllegalInstruction, SIGILL,
       ILL_ILLOPN},
      {"privileged instruction", &ExecutePrivilegedInstruction, kExceptionPrivilegedInstruction,
       SIGSEGV, SI_KERNEL},
      {"mapping beyond end of file", &TouchBeyondEndOfFile, kExceptionInPageError, SIGBUS,
       BUS_ADRERR},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    RecordingFilter filter;
    WardexExceptionRecord caught{};
    EXPECT_FALSE(RunGuarded(c.body, filter.AsFunction(), &caught));
    EXPECT_EQ(filter.calls, 1);
    EXPECT_EQ(filter.seen.code, c.code);
    EXPECT_EQ(filter.seen.signal_number, c.signal_number);
    EXPECT_EQ(filter.seen.signal_code, c.signal_code);
    EXPECT_EQ(caught.code, c.code);
    if (c.signal_number != 0) {
      EXPECT_NE(caught.address, nullptr);
    }
  }
}

#if !defined(WARDEX_UNDER_SANITIZER)
// The sanitizers' own stack frames and checks make an overflow unpredictable.
// Recurses until the stack ends; the limit only keeps the compiler from
// calling the recursion infinite.
int Recurse(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (depth == INT32_MAX) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

void OverflowTheStack() { (void)Recurse(0); }

TEST(SehGuardTest, AStackOverflowIsCaughtOnTheAlternateStack) {
  auto overflow_twice = [] {
    for (int round = 0; round < 2; ++round) {
      RecordingFilter filter;
      EXPECT_FALSE(RunGuarded(&OverflowTheStack, filter.AsFunction()));
      EXPECT_EQ(filter.seen.code, kExceptionStackOverflow);
      EXPECT_EQ(filter.seen.signal_number, SIGSEGV);
    }
  };
  overflow_twice();                    // the main thread
  std::thread(overflow_twice).join();  // a thread of its own, with its own alternate stack
}
#endif

TEST(SehGuardTest, TheInnermostGuardDecidesAndPassesOnWhatItDeclines) {
  struct Case {
    const char* what;
    void (*body)();
    int inner_verdict;
    int outer_calls;
    uint32_t outer_code;
  };
  const Case kCases[] = {
      {"fault handled inside", &DereferenceNull, kExceptionExecuteHandler, 0, 0},
      {"fault declined inside", &DereferenceNull, kExceptionContinueSearch, 1,
       kExceptionAccessViolation},
      {"raised code declined inside", [] { RaiseException(kExceptionInvalidHandle); },
       kExceptionContinueSearch, 1, kExceptionInvalidHandle},
      {"C++ exception declined inside", [] { throw std::logic_error("x"); },
       kExceptionContinueSearch, 1, kExceptionCppException},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    RecordingFilter inner, outer;
    inner.verdict = c.inner_verdict;
    bool inner_returned = true;
    const bool outer_returned = RunGuarded(
        [&] { inner_returned = RunGuarded(c.body, inner.AsFunction()); }, outer.AsFunction());
    EXPECT_EQ(inner.calls, 1);
    EXPECT_EQ(outer.calls, c.outer_calls);
    EXPECT_EQ(outer_returned, c.outer_calls == 0);
    if (c.outer_calls == 0) {
      EXPECT_FALSE(inner_returned);
    } else {
      EXPECT_EQ(outer.seen.code, c.outer_code);
    }
  }
  // A body that returns never asks its filter; a fault after its guard has
  // ended goes to the guard around it.
  RecordingFilter inner, outer;
  bool ran = false;
  EXPECT_FALSE(RunGuarded(
      [&] {
        EXPECT_TRUE(RunGuarded([&] { ran = true; }, inner.AsFunction()));
        DereferenceNull();
      },
      outer.AsFunction()));
  EXPECT_TRUE(ran);
  EXPECT_EQ(inner.calls, 0);
  EXPECT_EQ(outer.calls, 1);
}

TEST(SehGuardTest, GuardsOnManyThreadsCatchTheirOwnFaults) {
  const int kThreads = 4;
  const int kRounds = test::Scaled(200, 40);
  std::atomic<int> caught{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        RecordingFilter filter;
        void (*body)() = (round + t) % 2 == 0 ? &DereferenceNull : &DivideByZero;
        if (!RunGuarded(body, filter.AsFunction())) ++caught;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(caught.load(), kThreads * kRounds);
}

// The handler that was there before the guards: it must still see faults
// that no guard takes.
void PreviousHandler(int, siginfo_t* info, void*) { _exit(info->si_code == SEGV_MAPERR ? 42 : 43); }

void FaultOutsideAnyGuard() {
  struct sigaction previous {};
  previous.sa_sigaction = &PreviousHandler;
  previous.sa_flags = SA_SIGINFO;
  sigaction(SIGSEGV, &previous, nullptr);
  RecordingFilter filter;
  (void)RunGuarded([] {}, filter.AsFunction());
  DereferenceNull();
}

void FaultDeclinedByEveryGuard() {
  RecordingFilter filter;
  filter.verdict = kExceptionContinueSearch;
  (void)RunGuarded(&DereferenceNull, filter.AsFunction());
}

TEST(SehGuardDeathTest, FaultsNoGuardTakesReachThePreviousHandlerOrEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FaultOutsideAnyGuard(), testing::ExitedWithCode(42), "");
  // Declined by the last guard, the fault goes on as an exception that
  // nothing catches, which ends the process from its thread.
  EXPECT_EXIT(std::thread(&FaultDeclinedByEveryGuard).join(), testing::KilledBySignal(SIGABRT), "");
  // A signal sent by another process is no fault of the guarded code.
  RecordingFilter filter;
#if defined(WARDEX_UNDER_SANITIZER)
  // The sanitizer's own handler reports the signal and exits.
  EXPECT_DEATH((void)RunGuarded([] { raise(SIGSEGV); }, filter.AsFunction()), "");
#else
  EXPECT_EXIT((void)RunGuarded([] { raise(SIGSEGV); }, filter.AsFunction()),
              testing::KilledBySignal(SIGSEGV), "");
#endif
}

}  // namespace
}  // namespace wardex::platform
