// Named kernel objects shared by the processes of one user: semaphores whose
// only use is their existence (single instance, "is the starter running"),
// and manual-reset events. Each platform keeps its own state behind the
// object, so callers see no system type.
//
// Windows: the system's named semaphores and events in the session's
// namespace ("Local\<name>"), under the same names.
//
// Linux: files in the user's runtime folder (see runtime_dir_posix.h):
//   sem.<name>    a semaphore exists while a process holds an exclusive flock
//                 on this file; the kernel drops the lock when its holder
//                 dies, so a killed instance leaves no stale lock behind.
//   event.<name>  4096 bytes, the first 4 the event's state (0 reset, 1 set),
//                 waited for with a futex on the shared mapping. Every open
//                 handle holds a shared lock on byte 0; an event that no
//                 handle holds is gone, as on Windows, and the next creator
//                 starts it anew in its initial state.
// <name> is the object's name in UTF-8 with every byte outside [A-Za-z0-9_-{}]
// (and a leading ".") written as %XX. Every descriptor is close-on-exec.
#pragma once

#include <cstdint>
#include <memory>

#include "osal/ka_string.h"
#include "platform/wait.h"

namespace wardex::platform {

class NamedSemaphore {
 public:
  // Creates the semaphore |name|, or finds it held by another owner: then the
  // result holds nothing, already_existed() is true and the last error is 183.
  // Null on failure with the last error set (87 for an empty name).
  [[nodiscard]] static std::unique_ptr<NamedSemaphore> Create(const KaOSAL::KaString& name);
  // True when a semaphore |name| exists; false with the last error 2 when not.
  [[nodiscard]] static bool Exists(const KaOSAL::KaString& name);

  ~NamedSemaphore();
  NamedSemaphore(const NamedSemaphore&) = delete;
  NamedSemaphore& operator=(const NamedSemaphore&) = delete;

  [[nodiscard]] bool already_existed() const { return held_ == nullptr; }

  // The platform's hold on the semaphore.
  struct Hold;

 private:
  explicit NamedSemaphore(std::unique_ptr<Hold> held);
  std::unique_ptr<Hold> held_;  // null when another owner has it
};

class NamedEvent {
 public:
  // Creates the manual-reset event |name| in the state |initially_set|, or
  // opens it when it exists: then its state is kept, already_existed() is true
  // and the last error is 183. Null on failure with the last error set.
  [[nodiscard]] static std::unique_ptr<NamedEvent> Create(const KaOSAL::KaString& name,
                                                          bool initially_set);
  // Opens an existing event; null with the last error 2 when no handle holds
  // one of that name.
  [[nodiscard]] static std::unique_ptr<NamedEvent> Open(const KaOSAL::KaString& name);

  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  // Sets the event and wakes every waiter in every process.
  [[nodiscard]] bool Set();
  [[nodiscard]] bool Reset();
  // Waits until the event is set, for at most |timeout_ms| (0: only looks,
  // kInfinite: no limit).
  [[nodiscard]] WaitResult Wait(uint32_t timeout_ms);

  [[nodiscard]] bool already_existed() const { return already_existed_; }

  // The platform's hold on the event.
  struct Hold;

 private:
  NamedEvent(std::unique_ptr<Hold> held, bool already_existed);
  std::unique_ptr<Hold> held_;
  bool already_existed_;
};

}  // namespace wardex::platform
