#include "online/worker_thread.h"

#include <gtest/gtest.h>
#if defined(_WIN32)
#include "platform/windows_api.h"
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "osal/last_error.h"
#include "osal/thread_slots.h"
#include "platform/seh_guard.h"
#include "platform/thread.h"
#include "support/test_env.h"

namespace wardex {
namespace {

using Clock = std::chrono::steady_clock;

// What the procedures below do and what they saw, shared with the test.
struct Job {
  uint32_t result = 0;
  uint32_t sleep_ms = 0;
  std::atomic<bool> started{false};
  std::atomic<bool> release{false};  // for the procedure that waits to be let go
  void* worker_slot = nullptr;
  uint32_t status_seen = 0;
  uint32_t tid = 0;
  std::atomic<bool> stop_seen{false};
};

// What the filter saw; the tests run one worker at a time.
struct FilterLog {
  std::atomic<int> calls{0};
  uint32_t code = 0;
  std::string name;
};
FilterLog g_filter;

int RecordingFilter(WardexExceptionPointers* pointers, const char* thread_name) {
  g_filter.code = pointers->record->code;
  g_filter.name = thread_name;
  ++g_filter.calls;
  return kExceptionExecuteHandler;
}

uint32_t SleepAndReturn(void* argument) {
  auto* job = static_cast<Job*>(argument);
  job->tid = platform::CurrentThreadId();
  job->worker_slot = KaOSAL::TlsGetValue(GetGlobalTlsIndex(7));
  auto* status = static_cast<std::atomic<uint32_t>*>(KaOSAL::TlsGetValue(GetGlobalTlsIndex(8)));
  job->status_seen = status != nullptr ? status->load() : 0;
  job->started = true;
  if (job->sleep_ms != 0) platform::SleepMilliseconds(job->sleep_ms);
  return job->result;
}

// A fault on purpose, which UBSan must not stop first.
__attribute__((no_sanitize("undefined"))) uint32_t DereferenceNull(void* argument) {
  static_cast<Job*>(argument)->started = true;
  KaOSAL::SetLastError(1234);
  volatile int* pointer = nullptr;
  return static_cast<uint32_t>(*pointer);
}

// Waits until the worker's thread says it has ended by itself.
void WaitForEnd(const CWorkerThread& worker) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (worker.state() != CWorkerThread::kMarkStopped && Clock::now() < deadline) {
    platform::YieldProcessor();
  }
}

TEST(WorkerThreadTest, ConstructionChecksItsArguments) {
  Job job;
  const std::tuple<const char*, CWorkerThread::Procedure, CWorkerThread::ExceptionFilter,
                   const char*>
      kCases[] = {
          {"empty name", &SleepAndReturn, &RecordingFilter, ""},
          {"null name", &SleepAndReturn, &RecordingFilter, nullptr},
          {"null procedure", nullptr, &RecordingFilter, "worker"},
          {"null filter", &SleepAndReturn, nullptr, "worker"},
      };
  for (const auto& [what, procedure, filter, name] : kCases) {
    SCOPED_TRACE(what);
    try {
      CWorkerThread worker(procedure, &job, filter, name);
      ADD_FAILURE() << "constructed";
    } catch (const platform::StructuredException& exception) {
      EXPECT_EQ(exception.code(), platform::kExceptionInvalidParameter);
    }
  }
  CWorkerThread worker(&SleepAndReturn, &job, &RecordingFilter, "worker");
  EXPECT_EQ(std::tuple(worker.state(), worker.status(), job.started.load()),
            std::tuple(CWorkerThread::kMarkStopped, CWorkerThread::kStatusCreated, false))
      << "construction starts no thread";
  EXPECT_FALSE(worker.Stop(1, platform::kInfinite)) << "no handle to release";
}

TEST(WorkerThreadTest, AProcedureThatReturnsEndsItsThreadWithItsResult) {
  Job job;
  job.result = 7;
  CWorkerThread worker(&SleepAndReturn, &job, &RecordingFilter, "returns");
  ASSERT_TRUE(worker.Start());
  EXPECT_NE(worker.thread_id(), 0u);
  EXPECT_EQ(worker.exit_code(), platform::kStillActive);
  EXPECT_EQ(worker.suspended_mark(), CWorkerThread::kMarkStopped);
  WaitForEnd(worker);
  // Slot 7 holds the worker, slot 8 points at the status.
  EXPECT_EQ(std::tuple(job.worker_slot, job.status_seen, job.tid),
            std::tuple(&worker, CWorkerThread::kStatusRunning, worker.thread_id()));

  EXPECT_TRUE(worker.Stop(1, platform::kInfinite));
  // The exit code, crashed, last error, status, state and thread.
  EXPECT_EQ((std::tuple{worker.exit_code(), worker.crashed(), worker.last_error(), worker.status(),
                        worker.state(), worker.thread_id()}),
            std::tuple(7u, 0u, 0u, CWorkerThread::kStatusEnded, CWorkerThread::kMarkStopped, 0u));
  EXPECT_FALSE(worker.Stop(1, platform::kInfinite)) << "the handle went with the first Stop";
}

TEST(WorkerThreadTest, ACrashEndsOnlyTheWorkersThread) {
  Job job;
  g_filter.calls = 0;
  CWorkerThread worker(&DereferenceNull, &job, &RecordingFilter, "CMainFrame::Crashes");
  ASSERT_TRUE(worker.Start());
  WaitForEnd(worker);
  ASSERT_EQ(worker.status(), CWorkerThread::kStatusEnded);
  EXPECT_EQ(std::tuple(worker.crashed(), worker.last_error()), std::tuple(1u, 1234u));
  EXPECT_EQ(std::tuple(g_filter.calls.load(), g_filter.code, g_filter.name),
            std::tuple(1, platform::kExceptionAccessViolation, "CMainFrame::Crashes"));
  EXPECT_TRUE(worker.Stop(1, platform::kInfinite));
  EXPECT_EQ(worker.exit_code(), CWorkerThread::kCrashExitCode);

  // The process goes on, and so can the worker.
  ASSERT_TRUE(worker.Start());
  EXPECT_EQ(
      (std::tuple{worker.Stop(1, platform::kInfinite), worker.exit_code(), g_filter.calls.load()}),
      std::tuple(true, CWorkerThread::kCrashExitCode, 2));
}

// Watches the stop mark from a frame that may not unwind: a cancellation
// landing here would end the whole process.
uint32_t WaitUntilReleasedWithoutUnwinding(void* argument) noexcept {
  auto* job = static_cast<Job*>(argument);
  auto* worker = static_cast<CWorkerThread*>(KaOSAL::TlsGetValue(GetGlobalTlsIndex(7)));
  job->started = true;
  while (!job->release) {
    if (worker->stop_token().stop_requested() &&
        worker->stop_mark() == CWorkerThread::kMarkRunning) {
      job->stop_seen = true;
    }
    platform::SleepMilliseconds(1);
  }
  return job->result;
}

// A second Start, the priority and a stop that times out, on a running worker.
TEST(WorkerThreadTest, ARunningWorkerKeepsItsThreadThroughStartPriorityAndATimedOutStop) {
  Job job;
  job.result = 6;
  CWorkerThread worker(&WaitUntilReleasedWithoutUnwinding, &job, &RecordingFilter, "goes on");
  EXPECT_FALSE(worker.SetPriority(platform::kThreadPriorityBelowNormal));
  ASSERT_TRUE(worker.Start());
  while (!job.started) platform::YieldProcessor();
  const uint32_t id = worker.thread_id();
  EXPECT_EQ((std::pair{worker.Start(), worker.thread_id()}), std::pair(false, id));
  EXPECT_TRUE(worker.SetPriority(platform::kThreadPriorityBelowNormal));
#if defined(_WIN32)
  const HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_BELOW_NORMAL);
  CloseHandle(thread);
#else
  // Relative to the test's own nice value: a test runner may be niced.
  EXPECT_EQ(getpriority(PRIO_PROCESS, id), std::min(getpriority(PRIO_PROCESS, 0) + 5, 19));
#endif
  const auto start = Clock::now();
  EXPECT_EQ((std::tuple{worker.Stop(77, 100), KaOSAL::GetLastError(), worker.state(),
                        worker.exit_code(), worker.thread_id()}),
            std::tuple(false, KaOSAL::kErrorTimeout, CWorkerThread::kMarkRunning,
                       platform::kStillActive, id));
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
            100);
  // The thread keeps running through its sleeps and sees the request.
  platform::SleepMilliseconds(100);
  EXPECT_EQ(std::pair(job.stop_seen.load(), worker.status()),
            std::pair(true, CWorkerThread::kStatusRunning));
  job.release = true;
  EXPECT_TRUE(worker.Stop(1, platform::kInfinite));
  EXPECT_EQ(std::pair(worker.exit_code(), worker.crashed()), std::pair(6u, 0u))
      << "the procedure's own result";
}

TEST(WorkerThreadTest, SurvivesManyStartAndStopCycles) {
  const int kCycles = test::Scaled(3000, 300);
  Job job;
  CWorkerThread worker(&SleepAndReturn, &job, &RecordingFilter, "cycles");
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    // Results stay clear of 259, which reads as "still active", as on Windows.
    job.result = static_cast<uint32_t>(1000 + cycle);
    ASSERT_TRUE(worker.Start()) << cycle;
    // Every other cycle stops the thread while it may still be starting (the
    // stop waits for the procedure's result), the others right after it said
    // it stopped, when its routine may not have returned yet.
    if (cycle % 2 == 0) WaitForEnd(worker);
    ASSERT_TRUE(worker.Stop(1, platform::kInfinite)) << cycle;
    ASSERT_EQ(worker.exit_code(), job.result) << cycle;
  }
  // A destroyed worker stops its thread first.
  job.sleep_ms = 50;
  auto owned = std::make_unique<CWorkerThread>(&SleepAndReturn, &job, &RecordingFilter, "dtor");
  ASSERT_TRUE(owned->Start());
  owned.reset();
}

}  // namespace
}  // namespace wardex
