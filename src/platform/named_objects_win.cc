// The system's named semaphores and manual-reset events, in the session's
// namespace, so that every process of the user's logon session finds them by
// the same name as on Linux.
#include <memory>
#include <string>
#include <utility>

#include "osal/last_error.h"
#include "platform/named_objects.h"
#include "platform/system_error_win_internal.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

// The object's name in the session's namespace; empty for an empty name.
std::wstring SessionName(const KaOSAL::KaString& name) {
  if (name.IsEmpty()) return {};
  return L"Local\\" + std::wstring(name.c_str(), name.c_str() + name.GetLength());
}

void SetInvalidName() { KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter); }

}  // namespace

// The system's object, closed with the hold.
struct NamedSemaphore::Hold {
  explicit Hold(HANDLE held) : handle(held) {}
  ~Hold() { CloseHandle(handle); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  HANDLE handle;
};

struct NamedEvent::Hold : NamedSemaphore::Hold {
  using NamedSemaphore::Hold::Hold;
};

NamedSemaphore::NamedSemaphore(std::unique_ptr<Hold> held) : held_(std::move(held)) {}

NamedEvent::NamedEvent(std::unique_ptr<Hold> held, bool already_existed)
    : held_(std::move(held)), already_existed_(already_existed) {}

std::unique_ptr<NamedSemaphore> NamedSemaphore::Create(const KaOSAL::KaString& name) {
  const std::wstring session_name = SessionName(name);
  if (session_name.empty()) {
    SetInvalidName();
    return nullptr;
  }
  const HANDLE semaphore = CreateSemaphoreW(nullptr, 1, 1, session_name.c_str());
  if (semaphore == nullptr) {
    KeepSystemError();
    return nullptr;
  }
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    // Holding another owner's semaphore would keep it alive after its owner.
    CloseHandle(semaphore);
    KaOSAL::SetLastError(KaOSAL::kErrorAlreadyExists);
    return std::unique_ptr<NamedSemaphore>(new NamedSemaphore(nullptr));
  }
  KaOSAL::SetLastError(KaOSAL::kErrorSuccess);
  return std::unique_ptr<NamedSemaphore>(new NamedSemaphore(std::make_unique<Hold>(semaphore)));
}

bool NamedSemaphore::Exists(const KaOSAL::KaString& name) {
  const std::wstring session_name = SessionName(name);
  if (session_name.empty()) {
    SetInvalidName();
    return false;
  }
  const HANDLE semaphore = OpenSemaphoreW(SYNCHRONIZE, FALSE, session_name.c_str());
  if (semaphore == nullptr) {
    KeepSystemError();
    return false;
  }
  CloseHandle(semaphore);
  KaOSAL::SetLastError(KaOSAL::kErrorSuccess);
  return true;
}

NamedSemaphore::~NamedSemaphore() = default;

std::unique_ptr<NamedEvent> NamedEvent::Create(const KaOSAL::KaString& name, bool initially_set) {
  const std::wstring session_name = SessionName(name);
  if (session_name.empty()) {
    SetInvalidName();
    return nullptr;
  }
  const HANDLE event = CreateEventW(nullptr, TRUE, initially_set, session_name.c_str());
  if (event == nullptr) {
    KeepSystemError();
    return nullptr;
  }
  const bool already_existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  KaOSAL::SetLastError(already_existed ? KaOSAL::kErrorAlreadyExists : KaOSAL::kErrorSuccess);
  return std::unique_ptr<NamedEvent>(
      new NamedEvent(std::make_unique<Hold>(event), already_existed));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const KaOSAL::KaString& name) {
  const std::wstring session_name = SessionName(name);
  if (session_name.empty()) {
    SetInvalidName();
    return nullptr;
  }
  const HANDLE event = OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, session_name.c_str());
  if (event == nullptr) {
    KeepSystemError();
    return nullptr;
  }
  KaOSAL::SetLastError(KaOSAL::kErrorSuccess);
  return std::unique_ptr<NamedEvent>(new NamedEvent(std::make_unique<Hold>(event), true));
}

NamedEvent::~NamedEvent() = default;

bool NamedEvent::Set() {
  if (SetEvent(held_->handle)) return true;
  KeepSystemError();
  return false;
}

bool NamedEvent::Reset() {
  if (ResetEvent(held_->handle)) return true;
  KeepSystemError();
  return false;
}

WaitResult NamedEvent::Wait(uint32_t timeout_ms) {
  return WaitForObject(held_->handle, timeout_ms);
}

}  // namespace wardex::platform
