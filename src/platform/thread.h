// Threads as the agent uses them: created suspended and resumed, given a
// priority, waited for with a time-out and asked for their exit code. A
// thread is never ended by force; it ends by returning.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/wait.h"

namespace wardex::platform {

// The exit code of a thread that has not ended yet (STILL_ACTIVE).
inline constexpr uint32_t kStillActive = 259;

// Windows thread priorities, relative to the process's own priority (idle and
// time critical are the ends of the range, whatever the process's).
inline constexpr int kThreadPriorityIdle = -15;
inline constexpr int kThreadPriorityLowest = -2;
inline constexpr int kThreadPriorityBelowNormal = -1;
inline constexpr int kThreadPriorityNormal = 0;
inline constexpr int kThreadPriorityAboveNormal = 1;
inline constexpr int kThreadPriorityHighest = 2;
inline constexpr int kThreadPriorityTimeCritical = 15;

// The function a thread runs; what it returns is the thread's exit code.
using ThreadRoutine = uint32_t (*)(void* parameter);

struct ThreadState;

// Owns one platform thread, like a thread handle. Destroying it does not end
// the thread: a thread that was never resumed is let go without running its
// routine, a running one goes on by itself.
class ThreadHandle {
 public:
  // Creates a thread that waits at its start gate until Resume(). Null on
  // failure, with the last error set.
  [[nodiscard]] static std::unique_ptr<ThreadHandle> CreateSuspended(ThreadRoutine routine,
                                                                     void* parameter);
  ~ThreadHandle();
  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;

  // Opens the start gate. False when the thread had already been resumed.
  [[nodiscard]] bool Resume();
  // Sets one of the kThreadPriority* values as the thread's priority. False
  // with the last error set when the system refuses (raising a priority may
  // need privilege) or the value is not a known priority.
  [[nodiscard]] bool SetPriority(int priority);
  // kStillActive while the thread runs, then its routine's result.
  [[nodiscard]] uint32_t ExitCode() const;
  // Waits until the thread has ended or |timeout_ms| (or kInfinite) passed.
  [[nodiscard]] WaitResult Wait(uint32_t timeout_ms) const;
  // The kernel's id of the thread (its tid).
  [[nodiscard]] uint32_t id() const;

 private:
  explicit ThreadHandle(std::shared_ptr<ThreadState> state);
  std::shared_ptr<ThreadState> state_;
};

// Lets another ready thread run.
void YieldProcessor();
// Suspends the calling thread for |milliseconds|.
void SleepMilliseconds(uint32_t milliseconds);
// The kernel's id of the calling thread.
[[nodiscard]] uint32_t CurrentThreadId();

}  // namespace wardex::platform
