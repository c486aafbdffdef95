#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "osal/last_error.h"
#include "platform/thread_priority.h"

namespace wardex::platform {
namespace {

using Clock = std::chrono::steady_clock;

struct Probe {
  std::atomic<bool> ran{false};
  // While set, the routine runs until the test clears it: no sleep that a loaded machine outlasts.
  std::atomic<bool> hold{false};
  uint32_t result = 0;
};

uint32_t RecordAndReturn(void* parameter) {
  auto* probe = static_cast<Probe*>(parameter);
  probe->ran = true;
  while (probe->hold) SleepMilliseconds(1);
  return probe->result;
}

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(ThreadTest, RunsOnlyAfterResumeAndReportsItsResult) {
  Probe probe;
  probe.result = 42;
  auto thread = ThreadHandle::CreateSuspended(&RecordAndReturn, &probe);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(thread->id(), 0u);
  EXPECT_EQ(thread->Wait(50), WaitResult::kTimeout);
  EXPECT_FALSE(probe.ran);
  EXPECT_EQ(thread->ExitCode(), kStillActive);

  ASSERT_TRUE(thread->Resume());
  EXPECT_FALSE(thread->Resume());
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidHandle);
  EXPECT_EQ(thread->Wait(kInfinite), WaitResult::kSignaled);
  EXPECT_TRUE(probe.ran);
  EXPECT_EQ(thread->ExitCode(), 42u);
  EXPECT_EQ(thread->Wait(0), WaitResult::kSignaled);
  EXPECT_FALSE(thread->SetPriority(kThreadPriorityNormal)) << "its id may belong to another";
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidHandle);
}

// Gives a suspended thread normal, below normal and lowest priority, in this
// order (a lowered priority may not be raised again without privilege), and
// compares what the system reports; the rest of the process keeps its own.
bool PrioritiesReachTheSystem() {
  Probe probe;
  auto thread = ThreadHandle::CreateSuspended(&RecordAndReturn, &probe);
  if (thread == nullptr) return false;
  const test::ObservedPriorities expected = test::ExpectedPriorities();
  const struct {
    int priority;
    int observed;
  } cases[] = {{kThreadPriorityNormal, expected.normal},
               {kThreadPriorityBelowNormal, expected.below_normal},
               {kThreadPriorityLowest, expected.lowest}};
  for (const auto& c : cases) {
    if (!thread->SetPriority(c.priority) || test::ObservedPriority(thread->id()) != c.observed)
      return false;
  }
  return test::ObservedPriority(CurrentThreadId()) == expected.normal;
}

TEST(ThreadTest, PriorityIsRelativeToTheProcesssOwnAndWaitTimesOutWhileItRuns) {
  // In a process lowered below the priority it started with; its fork comes
  // before this test starts a thread.
  EXPECT_TRUE(test::WithProcessPriorityLowered(&PrioritiesReachTheSystem));

  Probe probe;
  probe.hold = true;
  auto thread = ThreadHandle::CreateSuspended(&RecordAndReturn, &probe);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(thread->SetPriority(3));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidParameter);
  ASSERT_TRUE(thread->Resume());
  const auto start = Clock::now();
  EXPECT_EQ(thread->Wait(100), WaitResult::kTimeout);
  EXPECT_GE(MillisecondsSince(start), 100);
  EXPECT_EQ(thread->ExitCode(), kStillActive);
  probe.hold = false;
  EXPECT_EQ(thread->Wait(kInfinite), WaitResult::kSignaled);
}

TEST(ThreadTest, AnAbandonedSuspendedThreadNeverRuns) {
  Probe abandoned;
  auto thread = ThreadHandle::CreateSuspended(&RecordAndReturn, &abandoned);
  ASSERT_NE(thread, nullptr);
  thread.reset();
  SleepMilliseconds(50);
  EXPECT_FALSE(abandoned.ran);
}

}  // namespace
}  // namespace wardex::platform
