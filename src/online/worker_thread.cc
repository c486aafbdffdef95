// A time-limited Stop whose thread still runs after the time-out ends
// nothing by force: it logs, reports false with the last error 1460 and
// leaves the worker running with its handle and the stop requested, so that
// the procedure may still notice the request and return, and a later Stop
// (the destructor's infinite one) waits for it. A forced end of a C++ thread
// (cancellation) can take the whole process down.
#include "online/worker_thread.h"

#include <cstring>
#include <mutex>

#include "osal/last_error.h"
#include "osal/thread_slots.h"
#include "platform/seh_guard.h"

namespace wardex {
namespace {

// How long Start waits for the thread of an earlier run to end (33 polls of
// 10 ms, as the owner's poll had it).
constexpr uint32_t kEarlierThreadWaitMs = 330;
constexpr int kWorkerSlot = 7;
constexpr int kStatusSlot = 8;

// The thread-local storage indexes of slots 7 and 8, asked once per process.
struct SlotIndexes {
  int worker = -1;
  int status = -1;
};

const SlotIndexes& GetSlotIndexes() {
  static const SlotIndexes indexes{GetGlobalTlsIndex(kWorkerSlot), GetGlobalTlsIndex(kStatusSlot)};
  return indexes;
}

}  // namespace

CWorkerThread::CWorkerThread(Procedure procedure, void* argument, ExceptionFilter filter,
                             const char* name)
    : filter_(filter), procedure_(procedure), argument_(argument) {
  if (name == nullptr || name[0] == '\0' || procedure == nullptr || filter == nullptr) {
    platform::RaiseException(platform::kExceptionInvalidParameter);
  }
  std::strncpy(name_, name, sizeof(name_) - 1);
  (void)GetSlotIndexes();
}

CWorkerThread::~CWorkerThread() { Stop(1, platform::kInfinite); }

void CWorkerThread::CheckState() const {
  const uint32_t state = state_.load();
  if (state != kMarkRunning && state != kMarkStopped) {
    platform::RaiseException(platform::kExceptionAccessViolation);
  }
}

void CWorkerThread::ForgetThread() {
  thread_.reset();
  thread_id_ = 0;
}

bool CWorkerThread::Start() {
  CheckState();
  std::unique_lock lock(lock_);
  if (state_.load() == kMarkRunning) {
    lock.unlock();
    platform::YieldProcessor();
    return false;
  }
  if (thread_) {
    if (thread_->Wait(kEarlierThreadWaitMs) != platform::WaitResult::kSignaled) {
      platform::RaiseException(platform::kExceptionInvalidDisposition);
    }
    ForgetThread();
  }
  crashed_ = 0;
  stop_mark_ = kMarkStopped;
  stop_ = std::stop_source();
  suspended_mark_ = kMarkRunning;
  exit_code_ = 0;
  status_ = kStatusCreated;
  thread_ = platform::ThreadHandle::CreateSuspended(&CWorkerThread::ThreadRoutine, this);
  bool started = false;
  if (thread_) {
    thread_id_ = thread_->id();
    exit_code_ = platform::kStillActive;
    state_ = kMarkRunning;
    if (thread_->Resume()) {
      suspended_mark_ = kMarkStopped;
      started = true;
    }
  }
  lock.unlock();
  platform::YieldProcessor();
  return started;
}

bool CWorkerThread::SetPriority(int priority) {
  CheckState();
  std::lock_guard lock(lock_);
  return state_.load() == kMarkRunning && thread_->SetPriority(priority);
}

bool CWorkerThread::Stop(uint32_t /*exit_code: of a forced end, which never happens*/,
                         uint32_t timeout_ms) {
  CheckState();
  std::lock_guard lock(lock_);
  if (thread_) {
    RequestStopLocked();
    if (suspended_mark_ == kMarkRunning) {
      (void)thread_->Resume();
      suspended_mark_ = kMarkStopped;
    }
    platform::YieldProcessor();
    // The thread says "stopped" before its routine has returned: its exit
    // code is recorded only once it has really ended.
    if (thread_->Wait(timeout_ms) != platform::WaitResult::kSignaled) {
      LogW(kLogError, u"CWorkerThread::Stop: %S did not end within %lu ms and goes on", name_,
           timeout_ms);
      KaOSAL::SetLastError(KaOSAL::kErrorTimeout);
      return false;
    }
  }
  bool released = false;
  if (thread_) {
    exit_code_ = thread_->ExitCode();
    ForgetThread();
    released = true;
  }
  state_ = kMarkStopped;
  stop_mark_ = kMarkStopped;
  return released;
}

void CWorkerThread::RequestStop() {
  std::lock_guard lock(lock_);
  RequestStopLocked();
}

void CWorkerThread::RequestStopLocked() {
  if (state_.load() != kMarkRunning) return;
  stop_mark_ = kMarkRunning;
  stop_.request_stop();
}

uint32_t CWorkerThread::ThreadRoutine(void* parameter) {
  auto* self = static_cast<CWorkerThread*>(parameter);
  SetTerminateExceptionHandler();
  const SlotIndexes& slots = GetSlotIndexes();
  if (slots.worker != -1) (void)KaOSAL::TlsSetValue(slots.worker, self);
  self->status_ = kStatusRunning;
  if (slots.status != -1) (void)KaOSAL::TlsSetValue(slots.status, &self->status_);

  uint32_t result = 0;
  const bool returned = platform::RunGuarded(
      [self, &result] { result = self->procedure_(self->argument_); },
      [self](WardexExceptionPointers* pointers) { return self->filter_(pointers, self->name_); });
  uint32_t exit_code = result;
  if (returned) {
    self->crashed_ = 0;
    self->last_error_ = 0;
  } else {
    exit_code = kCrashExitCode;
    self->crashed_ = 1;
    self->last_error_ = KaOSAL::GetLastError();
  }
  self->status_ = kStatusEnded;
  platform::YieldProcessor();
  self->state_ = kMarkStopped;
  return exit_code;
}

}  // namespace wardex
