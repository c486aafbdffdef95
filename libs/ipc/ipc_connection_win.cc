// Connections over named pipes: overlapped reads and writes that end at
// their deadline, and the client's way in.
#include <algorithm>

#include "ipc_channel.h"
#include "ipc_pipe_win.h"

namespace wardex::ipc {
namespace {

// Milliseconds left until |deadline|, rounded up; 0 once it has passed.
DWORD MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<DWORD>(std::clamp<decltype(left)>(left, 0, INFINITE - 1));
}

IoStatus StatusOf(DWORD error) {
  switch (error) {
    case ERROR_BROKEN_PIPE:
    case ERROR_PIPE_NOT_CONNECTED:
    case ERROR_NO_DATA:
      return IoStatus::kClosed;
    default:
      return IoStatus::kError;
  }
}

class Pipe final : public Connection {
 public:
  explicit Pipe(ScopedHandle pipe)
      : pipe_(std::move(pipe)), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  IoStatus Read(void* buffer, size_t size, Clock::time_point deadline) override {
    auto* out = static_cast<uint8_t*>(buffer);
    while (size > 0) {
      DWORD got = 0;
      const IoStatus status = Transfer(
          [&](OVERLAPPED* overlapped) {
            return ReadFile(pipe_.get(), out, static_cast<DWORD>(size), nullptr, overlapped);
          },
          deadline, got);
      if (status != IoStatus::kOk) return status;
      out += got;
      size -= got;
    }
    return IoStatus::kOk;
  }

  IoStatus Write(const void* data, size_t size, Clock::time_point deadline) override {
    const auto* in = static_cast<const uint8_t*>(data);
    while (size > 0) {
      DWORD put = 0;
      const IoStatus status = Transfer(
          [&](OVERLAPPED* overlapped) {
            return WriteFile(pipe_.get(), in, static_cast<DWORD>(size), nullptr, overlapped);
          },
          deadline, put);
      if (status != IoStatus::kOk) return status;
      if (put == 0) return IoStatus::kError;
      in += put;
      size -= put;
    }
    return IoStatus::kOk;
  }

  bool PeerLeft() override {
    DWORD available = 0;
    return !PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &available, nullptr) &&
           StatusOf(::GetLastError()) == IoStatus::kClosed;
  }

 private:
  // Runs one overlapped operation to its end or to |deadline|, when it is
  // cancelled. A read into a buffer smaller than the message has its part
  // (ERROR_MORE_DATA): the rest is there for the next read.
  template <typename Operation>
  IoStatus Transfer(Operation operation, Clock::time_point deadline, DWORD& bytes) {
    if (!event_.valid()) return IoStatus::kError;
    OVERLAPPED overlapped{};
    // The low bit keeps the completion off a port the server's pipe is tied to.
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event_.get()) | 1);
    ResetEvent(event_.get());
    if (!operation(&overlapped)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return StatusOf(error);
      if (error == ERROR_IO_PENDING &&
          WaitForSingleObject(event_.get(), MillisecondsUntil(deadline)) != WAIT_OBJECT_0) {
        CancelIoEx(pipe_.get(), &overlapped);
        // The system writes into |overlapped| until the cancellation is done.
        GetOverlappedResult(pipe_.get(), &overlapped, &bytes, TRUE);
        return IoStatus::kTimeout;
      }
    }
    if (!GetOverlappedResult(pipe_.get(), &overlapped, &bytes, FALSE) &&
        ::GetLastError() != ERROR_MORE_DATA) {
      return StatusOf(::GetLastError());
    }
    return IoStatus::kOk;
  }

  ScopedHandle pipe_;
  ScopedHandle event_;
};

// Whether the pipe's owner, who made it, is this user: another user's pipe
// of the channel's name would get our text.
bool OwnedByCurrentUser(HANDLE pipe) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const std::vector<uint8_t>& own = CurrentUserSid();
  const bool same =
      owner != nullptr && !own.empty() && EqualSid(owner, const_cast<uint8_t*>(own.data()));
  LocalFree(descriptor);
  return same;
}

// Opens the channel's pipe before |deadline|. Busy instances (the server's
// connection slots are all taken) are waited out, not reported at once.
int32_t OpenPipe(const std::wstring& name, Clock::time_point deadline, ScopedHandle& pipe) {
  for (;;) {
    // Identification is all the server may do with our identity.
    pipe.reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                           nullptr));
    if (pipe.valid()) return kIpcOk;
    switch (::GetLastError()) {
      case ERROR_FILE_NOT_FOUND:
        return kIpcNoServer;
      case ERROR_ACCESS_DENIED:
        return kIpcRefused;
      case ERROR_PIPE_BUSY:
        break;
      default:
        return kIpcIoError;
    }
    // A wait of 0 would mean the pipe's default time-out.
    const DWORD left = MillisecondsUntil(deadline);
    if (left == 0) return kIpcTimeout;
    if (!WaitNamedPipeW(name.c_str(), left) && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      return kIpcNoServer;
    }
  }
}

}  // namespace

std::unique_ptr<Connection> PipeConnection(ScopedHandle pipe) {
  return std::make_unique<Pipe>(std::move(pipe));
}

std::unique_ptr<Connection> ConnectToServer(const char16_t* channel, Clock::time_point deadline,
                                            int32_t& result) {
  const std::wstring name = ChannelPipeName(channel);
  if (name.empty()) {
    result = kIpcInvalidArgument;
    return nullptr;
  }
  ScopedHandle pipe;
  result = OpenPipe(name, deadline, pipe);
  if (result != kIpcOk) return nullptr;
  if (!OwnedByCurrentUser(pipe.get())) {
    result = kIpcRefused;
    return nullptr;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
    result = kIpcIoError;
    return nullptr;
  }
  return PipeConnection(std::move(pipe));
}

}  // namespace wardex::ipc
