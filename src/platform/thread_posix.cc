// Threads on pthreads.
//
// Suspended creation: the new thread publishes its kernel id and then waits
// at a start gate (a condition variable) until Resume() opens it.
//
// There is no forced end. A cancelled C++ thread unwinds as
// abi::__forced_unwind, and one that meets it in a noexcept frame ends the
// whole process; asynchronous cancellation or a signal could stop it inside
// malloc or holding a lock. Threads end by returning, when asked to by
// their owner (the worker's stop mark).
#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "osal/last_error.h"

namespace wardex::platform {

struct ThreadState {
  enum class Gate { kClosed, kOpen, kAbandoned };

  ThreadRoutine routine = nullptr;
  void* parameter = nullptr;
  pthread_t thread{};

  std::mutex mutex;
  std::condition_variable changed;
  pid_t tid = 0;
  Gate gate = Gate::kClosed;
  bool ended = false;
  uint32_t exit_code = kStillActive;
};

namespace {

// Marks the thread ended when its routine returns, or when plug-in code ends
// it with pthread_exit (exit code 0 then); the destructor runs in both cases.
class EndMark {
 public:
  explicit EndMark(ThreadState* state) : state_(state) {}
  ~EndMark() {
    std::lock_guard lock(state_->mutex);
    state_->ended = true;
    state_->exit_code = returned_ ? result_ : 0;
    state_->changed.notify_all();
  }
  EndMark(const EndMark&) = delete;
  EndMark& operator=(const EndMark&) = delete;

  void Returned(uint32_t result) {
    returned_ = true;
    result_ = result;
  }

 private:
  ThreadState* state_;
  bool returned_ = false;
  uint32_t result_ = 0;
};

// Publishes the thread's id and waits at the start gate. True when the
// routine is to run.
bool PassStartGate(ThreadState& state) {
  std::unique_lock lock(state.mutex);
  state.tid = gettid();
  state.changed.notify_all();
  state.changed.wait(lock, [&] { return state.gate != ThreadState::Gate::kClosed; });
  return state.gate == ThreadState::Gate::kOpen;
}

void* ThreadMain(void* argument) {
  auto* holder = static_cast<std::shared_ptr<ThreadState>*>(argument);
  std::shared_ptr<ThreadState> state = std::move(*holder);
  delete holder;
  EndMark end(state.get());
  if (!PassStartGate(*state)) return nullptr;
  end.Returned(state->routine(state->parameter));
  return nullptr;
}

// The process's own nice value: its main thread's, which nice and renice
// set. A thread's Windows priority is relative to it, as to the priority
// class there, so that under "nice -n 5" below normal still lowers a thread
// and normal asks for no privilege.
int ProcessNice() {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  return errno == 0 ? nice : 0;
}

// Returns the nice value that stands for a Windows thread priority in a
// process of nice value |process_nice|, or false for a value that is not
// one. Idle and time critical are the ends of the range, whatever the base.
bool NiceForPriority(int priority, int process_nice, int* nice) {
  constexpr int kLeastNice = -20;
  constexpr int kMostNice = 19;
  if (priority == kThreadPriorityIdle) {
    *nice = kMostNice;
    return true;
  }
  if (priority == kThreadPriorityTimeCritical) {
    *nice = kLeastNice;
    return true;
  }
  struct Row {
    int priority;
    int offset;
  };
  static constexpr Row kTable[] = {
      {kThreadPriorityLowest, 10},      {kThreadPriorityBelowNormal, 5}, {kThreadPriorityNormal, 0},
      {kThreadPriorityAboveNormal, -5}, {kThreadPriorityHighest, -10},
  };
  for (const Row& row : kTable) {
    if (row.priority == priority) {
      *nice = std::clamp(process_nice + row.offset, kLeastNice, kMostNice);
      return true;
    }
  }
  return false;
}

}  // namespace

std::unique_ptr<ThreadHandle> ThreadHandle::CreateSuspended(ThreadRoutine routine,
                                                            void* parameter) {
  auto state = std::make_shared<ThreadState>();
  state->routine = routine;
  state->parameter = parameter;
  auto* holder = new std::shared_ptr<ThreadState>(state);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  const int error = pthread_create(&state->thread, &attributes, &ThreadMain, holder);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete holder;
    KaOSAL::SetLastErrorFromErrno(error);
    return nullptr;
  }
  std::unique_lock lock(state->mutex);
  state->changed.wait(lock, [&] { return state->tid != 0; });
  lock.unlock();
  return std::unique_ptr<ThreadHandle>(new ThreadHandle(std::move(state)));
}

ThreadHandle::ThreadHandle(std::shared_ptr<ThreadState> state) : state_(std::move(state)) {}

ThreadHandle::~ThreadHandle() {
  std::lock_guard lock(state_->mutex);
  if (state_->gate == ThreadState::Gate::kClosed) {
    state_->gate = ThreadState::Gate::kAbandoned;
    state_->changed.notify_all();
  }
}

bool ThreadHandle::Resume() {
  std::lock_guard lock(state_->mutex);
  if (state_->gate != ThreadState::Gate::kClosed) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
    return false;
  }
  state_->gate = ThreadState::Gate::kOpen;
  state_->changed.notify_all();
  return true;
}

bool ThreadHandle::SetPriority(int priority) {
  int nice = 0;
  if (!NiceForPriority(priority, ProcessNice(), &nice)) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return false;
  }
  // Under the lock the thread cannot pass its end mark, so its id is not yet
  // free for the kernel to give to another thread.
  std::lock_guard lock(state_->mutex);
  if (state_->ended) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
    return false;
  }
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(state_->tid), nice) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

uint32_t ThreadHandle::ExitCode() const {
  std::lock_guard lock(state_->mutex);
  return state_->exit_code;
}

WaitResult ThreadHandle::Wait(uint32_t timeout_ms) const {
  std::unique_lock lock(state_->mutex);
  auto ended = [&] { return state_->ended; };
  if (timeout_ms == kInfinite) {
    state_->changed.wait(lock, ended);
    return WaitResult::kSignaled;
  }
  return state_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), ended)
             ? WaitResult::kSignaled
             : WaitResult::kTimeout;
}

uint32_t ThreadHandle::id() const { return static_cast<uint32_t>(state_->tid); }

void YieldProcessor() { sched_yield(); }

void SleepMilliseconds(uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1'000'000};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

}  // namespace wardex::platform
