// CWorkerThread: a crash-protected worker thread. It owns one platform
// thread that runs one procedure with one argument; any structured exception
// that escapes the procedure goes to the exception filter under the thread's
// name and ends only that thread. The owner starts, re-prioritises and stops
// it from another thread; stopping is a request (a stop token the procedure
// watches) followed by a wait for the thread's end.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>

#include "platform/thread.h"
#include "wardex/crashlog.h"

namespace wardex {

class CWorkerThread {
 public:
  using Procedure = uint32_t (*)(void* argument);
  using ExceptionFilter = int (*)(WardexExceptionPointers* pointers, const char* thread_name);

  // Marks of the state and the stop request; any other value in the state
  // means a destroyed or overwritten object.
  static constexpr uint32_t kMarkRunning = 28;  // state running / stop requested
  static constexpr uint32_t kMarkStopped = 35;  // state stopped / no stop requested
  static constexpr uint32_t kStatusCreated = 0;
  static constexpr uint32_t kStatusRunning = 1;
  static constexpr uint32_t kStatusEnded = 100;
  // The exit code of a thread whose procedure ended by an exception.
  static constexpr uint32_t kCrashExitCode = 0xA11BAD;

  // Raises the invalid-parameter exception (0xC000000D) for an empty |name|
  // or a null |procedure| or |filter|. Starts no thread.
  CWorkerThread(Procedure procedure, void* argument, ExceptionFilter filter, const char* name);
  // Stop(1, infinite).
  ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  // True when a new thread runs; false when one runs already or the thread
  // could not be made.
  bool Start();
  // True when the running thread's priority (platform::kThreadPriority*) changed.
  bool SetPriority(int priority);
  // Asks the thread to end (the stop mark and its token) and waits up to
  // |timeout_ms| (platform::kInfinite for no limit) for it to end, even when
  // it has said it stopped: its exit code is final only then. A thread still
  // running after the time goes on: Stop reports false with the last error
  // 1460 and the worker stays running. True when a thread handle was
  // released. |exit_code| is that of a forced end, which this platform never
  // makes.
  bool Stop(uint32_t exit_code, uint32_t timeout_ms);
  // Requests the stop of a running thread without waiting: its procedure
  // may end early while the owner does other things before Stop.
  void RequestStop();
  // The stop request of the current run, for its procedure to watch.
  [[nodiscard]] std::stop_token stop_token() const { return stop_.get_token(); }

  // What the owner may read once the thread has ended (and the marks anytime).
  uint32_t stop_mark() const { return stop_mark_.load(); }
  uint32_t status() const { return status_.load(); }
  uint32_t last_error() const { return last_error_; }
  uint32_t crashed() const { return crashed_; }
  uint32_t state() const { return state_.load(); }
  uint32_t thread_id() const { return thread_id_; }
  uint32_t exit_code() const { return exit_code_; }
  uint32_t suspended_mark() const { return suspended_mark_; }

 private:
  static uint32_t ThreadRoutine(void* parameter);
  // Raises the access-violation exception unless the state is a valid mark.
  void CheckState() const;
  // Asks the running thread to stop; the lock is held.
  void RequestStopLocked();
  void ForgetThread();

  std::atomic<uint32_t> stop_mark_{kMarkStopped};
  std::atomic<uint32_t> status_{kStatusCreated};
  uint32_t last_error_ = 0;
  uint32_t crashed_ = 0;
  std::atomic<uint32_t> state_{kMarkStopped};
  // Guards the thread and what the owner's operations change. Held by Stop
  // while it waits, never by the worker's own thread.
  std::mutex lock_;
  std::unique_ptr<platform::ThreadHandle> thread_;
  uint32_t thread_id_ = 0;
  uint32_t exit_code_ = platform::kStillActive;
  uint32_t suspended_mark_ = kMarkRunning;
  // A fresh source for each run, made by Start before the thread exists.
  std::stop_source stop_;
  ExceptionFilter filter_;
  Procedure procedure_;
  void* argument_;
  char name_[256] = {};
};

}  // namespace wardex
