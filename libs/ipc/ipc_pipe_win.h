// The named-pipe side of the IPC library on Windows, shared by the client and
// the server's receiver.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ipc_connection.h"
#include "platform/windows_api.h"

namespace wardex::ipc {

// Owns a kernel handle and closes it.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }

  [[nodiscard]] HANDLE get() const { return handle_; }
  [[nodiscard]] bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  [[nodiscard]] HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// The security identifier of this process's user; empty when it cannot be
// read. Read once: a process's user never changes.
const std::vector<uint8_t>& CurrentUserSid();

// Whether |token| is this process's user's.
bool TokenOfCurrentUser(HANDLE token);

// The channel's endpoint as a wide pipe name; empty when it has none.
std::wstring ChannelPipeName(const char16_t* channel);

// A connection over the connected pipe |pipe|, a server instance or a
// client end opened for overlapped I/O in message read mode.
std::unique_ptr<Connection> PipeConnection(ScopedHandle pipe);

}  // namespace wardex::ipc
