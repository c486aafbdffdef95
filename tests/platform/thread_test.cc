#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include "osal/last_error.h"

#if defined(_WIN32)
#include "platform/windows_api.h"
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#endif

namespace wardex::platform {
namespace {

using Clock = std::chrono::steady_clock;

// A thread's priority as the system reports it, relative to the process's
// own: the nice value less the process's on Linux, the thread priority on
// Windows; and the priorities the test gives, in this order, each with what it
// should read as in this process.
#if defined(_WIN32)
int ObservedPriority(uint32_t thread_id) {
  HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, thread_id);
  if (thread == nullptr) return THREAD_PRIORITY_ERROR_RETURN;
  const int priority = GetThreadPriority(thread);
  CloseHandle(thread);
  return priority;
}

std::vector<std::pair<int, int>> PriorityCases() {
  return {{kThreadPriorityNormal, THREAD_PRIORITY_NORMAL},
          {kThreadPriorityBelowNormal, THREAD_PRIORITY_BELOW_NORMAL},
          {kThreadPriorityLowest, THREAD_PRIORITY_LOWEST}};
}

// |check|'s result while the whole process runs below the priority it started
// with; false when it could not be lowered. On Linux in a forked child: a
// lowered nice value may not be raised again without privilege.
bool WithProcessPriorityLowered(const std::function<bool()>& check) {
  const DWORD started_with = GetPriorityClass(GetCurrentProcess());
  if (!SetPriorityClass(GetCurrentProcess(), BELOW_NORMAL_PRIORITY_CLASS)) return false;
  const bool result = check();
  SetPriorityClass(GetCurrentProcess(), started_with);
  return result;
}
#else
int ObservedPriority(uint32_t thread_id) {
  return getpriority(PRIO_PROCESS, thread_id) - getpriority(PRIO_PROCESS, getpid());
}

std::vector<std::pair<int, int>> PriorityCases() {
  // Nice values end at 19: a process near it has less room below.
  const int room = 19 - getpriority(PRIO_PROCESS, getpid());
  return {{kThreadPriorityNormal, 0},
          {kThreadPriorityBelowNormal, std::min(5, room)},
          {kThreadPriorityLowest, std::min(10, room)}};
}

bool WithProcessPriorityLowered(const std::function<bool()>& check) {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const int lowered = getpriority(PRIO_PROCESS, getpid()) + 5;
    if (setpriority(PRIO_PROCESS, getpid(), lowered) != 0) _exit(2);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

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

TEST(ThreadTest, RunsOnlyAfterResumeAndReportsItsResult) {
  Probe abandoned;  // a suspended thread whose handle goes never runs
  ASSERT_NE(ThreadHandle::CreateSuspended(&RecordAndReturn, &abandoned), nullptr);
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
  EXPECT_FALSE(abandoned.ran);
}

// Gives a suspended thread normal, below normal and lowest priority, in this
// order (a lowered priority may not be raised again without privilege), and
// compares what the system reports; the rest of the process keeps its own.
bool PrioritiesReachTheSystem() {
  Probe probe;
  auto thread = ThreadHandle::CreateSuspended(&RecordAndReturn, &probe);
  if (thread == nullptr) return false;
  const std::vector<std::pair<int, int>> cases = PriorityCases();
  for (const auto& [priority, observed] : cases) {
    if (!thread->SetPriority(priority) || ObservedPriority(thread->id()) != observed) return false;
  }
  return ObservedPriority(CurrentThreadId()) == cases[0].second;  // normal
}

TEST(ThreadTest, PriorityIsRelativeToTheProcesssOwnAndWaitTimesOutWhileItRuns) {
  // In a process lowered below the priority it started with; its fork comes
  // before this test starts a thread.
  EXPECT_TRUE(WithProcessPriorityLowered(&PrioritiesReachTheSystem));

  Probe probe;
  probe.hold = true;
  auto thread = ThreadHandle::CreateSuspended(&RecordAndReturn, &probe);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(thread->SetPriority(3));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidParameter);
  ASSERT_TRUE(thread->Resume());
  const auto start = Clock::now();
  EXPECT_EQ(thread->Wait(100), WaitResult::kTimeout);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(thread->ExitCode(), kStillActive);
  probe.hold = false;
  EXPECT_EQ(thread->Wait(kInfinite), WaitResult::kSignaled);
}

}  // namespace
}  // namespace wardex::platform
