#include "platform/seh_guard.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <atomic>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "support/faults.h"
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

template <uint32_t kCode>
void Raise() {
  RaiseException(kCode);
}

#if defined(_WIN32)
// A fault's code raised as software raises it, not by the processor.
void RaiseDivideByZeroBySystem() { ::RaiseException(kExceptionIntDivideByZero, 0, 0, nullptr); }
#endif

// The signal and si_code a fault arrives with on Linux; none on Windows.
struct Origin {
  int signal_number = 0;
  int signal_code = 0;
};
#if defined(_WIN32)
constexpr Origin kNullPointer, kDivideByZero, kUndefinedInstruction, kPrivilegedInstruction;
#else
constexpr Origin kNullPointer{SIGSEGV, SEGV_MAPERR}, kDivideByZero{SIGFPE, FPE_INTDIV},
    kUndefinedInstruction{SIGILL, ILL_ILLOPN}, kPrivilegedInstruction{SIGSEGV, SI_KERNEL};
#endif

TEST(SehGuardTest, EachKindOfExceptionArrivesWithItsCode) {
  struct Case {
    const char* what;
    void (*body)();
    uint32_t code;
    Origin origin;
    bool at_address = true;
  };
  const Case kCases[] = {
    {"raised fault", &Raise<kExceptionAccessViolation>, kExceptionAccessViolation, {}, false},
    {"raised invalid handle", &Raise<kExceptionInvalidHandle>, kExceptionInvalidHandle, {}, false},
    {"C++ exception", [] { throw std::runtime_error("boom"); }, kExceptionCppException, {}, false},
    {"C++ int", [] { throw 7; }, kExceptionCppException, {}, false},
    {"null pointer", &test::DereferenceNull, kExceptionAccessViolation, kNullPointer},
    {"divide by zero", &test::DivideByZero, kExceptionIntDivideByZero, kDivideByZero},
    {"undefined instruction", [] { __builtin_trap(); }, kExceptionIllegalInstruction,
     kUndefinedInstruction},
    {"privileged instruction", [] { asm volatile("hlt"); }, kExceptionPrivilegedInstruction,
     kPrivilegedInstruction},
#if defined(_WIN32)
    {"raised by the system", &RaiseDivideByZeroBySystem, kExceptionIntDivideByZero, {}},
#else
    {"past the file's end",
     &test::TouchBeyondEndOfFile,
     kExceptionInPageError,
     {SIGBUS, BUS_ADRERR}},
#endif
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    RecordingFilter filter;
    WardexExceptionRecord caught{};
    EXPECT_FALSE(RunGuarded(c.body, filter.AsFunction(), &caught));
    EXPECT_EQ(std::tie(filter.calls, filter.seen.code, filter.seen.signal_number,
                       filter.seen.signal_code, caught.code),
              std::make_tuple(1, c.code, c.origin.signal_number, c.origin.signal_code, c.code));
    EXPECT_TRUE(caught.address != nullptr || !c.at_address);
  }
}

#if !defined(WARDEX_UNDER_SANITIZER)
// The sanitizers' own stack frames and checks make an overflow unpredictable.
TEST(SehGuardTest, AStackOverflowIsCaughtAgainAndOnEveryThread) {
  auto overflow_twice = [] {
    for (int round = 0; round < 2; ++round) {
      RecordingFilter filter;
      EXPECT_FALSE(RunGuarded(&test::OverflowTheStack, filter.AsFunction()));
      EXPECT_EQ(filter.seen.code, kExceptionStackOverflow);
      EXPECT_EQ(filter.seen.signal_number, kNullPointer.signal_number);
    }
  };
  overflow_twice();                    // the main thread
  std::thread(overflow_twice).join();  // a thread of its own, with its own alternate stack
}
#endif

TEST(SehGuardTest, TheInnermostGuardDecidesAndPassesOnWhatItDeclines) {
  const std::tuple<const char*, void (*)(), int, int, uint32_t> kCases[] = {
      {"fault handled inside", &test::DereferenceNull, kExceptionExecuteHandler, 0, 0},
      {"fault declined inside", &test::DereferenceNull, kExceptionContinueSearch, 1,
       kExceptionAccessViolation},
      {"raised code declined inside", &Raise<kExceptionInvalidHandle>, kExceptionContinueSearch, 1,
       kExceptionInvalidHandle},
      {"C++ exception declined inside", [] { throw std::logic_error("x"); },
       kExceptionContinueSearch, 1, kExceptionCppException},
  };
  for (const auto& [what, body, inner_verdict, outer_calls, outer_code] : kCases) {
    SCOPED_TRACE(what);
    RecordingFilter inner, outer;
    inner.verdict = inner_verdict;
    bool inner_returned = true;
    const bool outer_returned = RunGuarded(
        [&] { inner_returned = RunGuarded(body, inner.AsFunction()); }, outer.AsFunction());
    // Declined, the fault leaves the inner guard without its return.
    EXPECT_EQ(std::tie(inner.calls, outer.calls, outer_returned, inner_returned, outer.seen.code),
              std::make_tuple(1, outer_calls, outer_calls == 0, outer_calls != 0, outer_code));
  }
  // A body that returns never asks its filter; a fault after its guard has
  // ended goes to the guard around it.
  RecordingFilter inner, outer;
  bool ran = false;
  EXPECT_FALSE(RunGuarded(
      [&] {
        EXPECT_TRUE(RunGuarded([&] { ran = true; }, inner.AsFunction()));
        test::DereferenceNull();
      },
      outer.AsFunction()));
  EXPECT_EQ(std::tie(ran, inner.calls, outer.calls), std::make_tuple(true, 0, 1));
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
        void (*body)() = (round + t) % 2 == 0 ? &test::DereferenceNull : &test::DivideByZero;
        if (!RunGuarded(body, filter.AsFunction())) ++caught;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(caught.load(), kThreads * kRounds);
}

void FaultDeclinedByEveryGuard() {
  RecordingFilter filter;
  filter.verdict = kExceptionContinueSearch;
  (void)RunGuarded(&test::DereferenceNull, filter.AsFunction());
}

#if defined(_WIN32)
TEST(SehGuardDeathTest, WhatNoGuardTakesEndsTheProcessWithItsCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A code the system raises that is no fault is left to the frames'
  // handlers; with none, it ends the process.
  EXPECT_EXIT(
      {
        RecordingFilter filter;
        (void)RunGuarded([] { ::RaiseException(0xE0001234, 0, 0, nullptr); }, filter.AsFunction());
      },
      testing::ExitedWithCode(static_cast<int>(0xE0001234)), "");
  // Declined by the last guard, the fault goes on as an exception that
  // nothing catches: std::terminate, then abort's exit code.
  EXPECT_EXIT(std::thread(&FaultDeclinedByEveryGuard).join(), testing::ExitedWithCode(3), "");
  EXPECT_EXIT(
      {
        RecordingFilter filter;
        (void)RunGuarded([] {}, filter.AsFunction());
        test::DereferenceNull();
      },
      testing::ExitedWithCode(static_cast<int>(kExceptionAccessViolation)), "");
}
#else
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
  test::DereferenceNull();
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
#endif

}  // namespace
}  // namespace wardex::platform
