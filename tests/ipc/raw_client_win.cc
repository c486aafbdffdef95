#include <algorithm>
#include <chrono>

#include "ipc/ipc_channel.h"
#include "ipc/ipc_test_fixture.h"
#include "platform/windows_api.h"

namespace wardex::test {
namespace {

HANDLE Pipe(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

RawClient::RawClient(const char16_t* channel) {
  const std::string name = ipc::ChannelEndpoint(channel);
  const std::wstring wide(name.begin(), name.end());
  HANDLE pipe = INVALID_HANDLE_VALUE;
  // Instances are made as clients come: wait for one as a client would.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while ((pipe = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr)) == INVALID_HANDLE_VALUE &&
         GetLastError() == ERROR_PIPE_BUSY && std::chrono::steady_clock::now() < give_up) {
    WaitNamedPipeW(wide.c_str(), 100);
  }
  handle_ = reinterpret_cast<intptr_t>(pipe);
}

RawClient::~RawClient() {
  if (connected()) CloseHandle(Pipe(handle_));
}

RawClient::RawClient(RawClient&& other) noexcept : handle_(other.handle_) {
  other.handle_ = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
}

bool RawClient::connected() const { return Pipe(handle_) != INVALID_HANDLE_VALUE; }

bool RawClient::Send(std::string_view bytes) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD written = 0;
  const bool sent = (WriteFile(Pipe(handle_), bytes.data(), static_cast<DWORD>(bytes.size()),
                               nullptr, &overlapped) ||
                     GetLastError() == ERROR_IO_PENDING) &&
                    GetOverlappedResult(Pipe(handle_), &overlapped, &written, TRUE) &&
                    written == bytes.size();
  CloseHandle(overlapped.hEvent);
  return sent;
}

std::optional<std::string> RawClient::ReceiveUntilClosed() {
  std::string received;
  bool closed = false;
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    char buffer[4096];
    DWORD got = 0;
    ResetEvent(overlapped.hEvent);
    if (!ReadFile(Pipe(handle_), buffer, sizeof(buffer), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) {
      closed = GetLastError() == ERROR_BROKEN_PIPE;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        give_up - std::chrono::steady_clock::now());
    if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(std::max<int64_t>(
                                                   left.count(), 0))) != WAIT_OBJECT_0) {
      CancelIoEx(Pipe(handle_), &overlapped);
      GetOverlappedResult(Pipe(handle_), &overlapped, &got, TRUE);
      break;
    }
    if (!GetOverlappedResult(Pipe(handle_), &overlapped, &got, FALSE) &&
        GetLastError() != ERROR_MORE_DATA) {
      closed = GetLastError() == ERROR_BROKEN_PIPE;
      break;
    }
    received.append(buffer, got);
  }
  CloseHandle(overlapped.hEvent);
  if (!closed) return std::nullopt;
  return received;
}

}  // namespace wardex::test
