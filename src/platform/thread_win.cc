// Threads on the system's own: CreateThread suspended, ResumeThread, thread
// priorities as they are, waits and exit codes through the thread's handle.
// As on Linux there is no forced end (TerminateThread would leave locks held
// and the C++ runtime's state half changed): threads end by returning.
#include "platform/thread.h"

#include <atomic>

#include "osal/last_error.h"
#include "platform/system_error_win_internal.h"
#include "platform/windows_api.h"

namespace wardex::platform {

struct ThreadState {
  ThreadRoutine routine = nullptr;
  void* parameter = nullptr;
  HANDLE thread = nullptr;
  DWORD id = 0;
  bool resumed = false;  // touched by the owner only
  // Set when the owner lets a never resumed thread go: it then returns at
  // once instead of running its routine.
  std::atomic<bool> abandoned{false};
};

namespace {

DWORD WINAPI ThreadMain(void* argument) {
  auto state = static_cast<std::shared_ptr<ThreadState>*>(argument);
  const std::shared_ptr<ThreadState> owned = std::move(*state);
  delete state;
  if (owned->abandoned) return 0;
  return owned->routine(owned->parameter);
}

bool IsKnownPriority(int priority) {
  for (int known : {kThreadPriorityIdle, kThreadPriorityLowest, kThreadPriorityBelowNormal,
                    kThreadPriorityNormal, kThreadPriorityAboveNormal, kThreadPriorityHighest,
                    kThreadPriorityTimeCritical}) {
    if (priority == known) return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<ThreadHandle> ThreadHandle::CreateSuspended(ThreadRoutine routine,
                                                            void* parameter) {
  auto state = std::make_shared<ThreadState>();
  state->routine = routine;
  state->parameter = parameter;
  // The thread holds its own share of the state, so it may outlive the handle.
  auto* argument = new std::shared_ptr<ThreadState>(state);
  state->thread = CreateThread(nullptr, 0, &ThreadMain, argument, CREATE_SUSPENDED, &state->id);
  if (state->thread == nullptr) {
    KeepSystemError();
    delete argument;
    return nullptr;
  }
  return std::unique_ptr<ThreadHandle>(new ThreadHandle(std::move(state)));
}

ThreadHandle::ThreadHandle(std::shared_ptr<ThreadState> state) : state_(std::move(state)) {}

ThreadHandle::~ThreadHandle() {
  if (!state_->resumed) {
    state_->abandoned = true;
    ResumeThread(state_->thread);
  }
  CloseHandle(state_->thread);
}

bool ThreadHandle::Resume() {
  if (state_->resumed) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
    return false;
  }
  if (ResumeThread(state_->thread) == static_cast<DWORD>(-1)) {
    KeepSystemError();
    return false;
  }
  state_->resumed = true;
  return true;
}

bool ThreadHandle::SetPriority(int priority) {
  if (!IsKnownPriority(priority)) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return false;
  }
  // As on Linux, an ended thread takes no priority.
  if (ExitCode() != kStillActive) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
    return false;
  }
  if (!SetThreadPriority(state_->thread, priority)) {
    KeepSystemError();
    return false;
  }
  return true;
}

uint32_t ThreadHandle::ExitCode() const {
  DWORD code = kStillActive;
  if (!GetExitCodeThread(state_->thread, &code)) KeepSystemError();
  return code;
}

WaitResult ThreadHandle::Wait(uint32_t timeout_ms) const {
  return WaitForObject(state_->thread, timeout_ms);
}

uint32_t ThreadHandle::id() const { return state_->id; }

void YieldProcessor() { SwitchToThread(); }

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

}  // namespace wardex::platform
