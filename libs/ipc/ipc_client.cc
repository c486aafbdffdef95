#include "ipc_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ipc_channel.h"
#include "ipc_wire.h"
#include "platform/scoped_fd.h"

namespace wardex::ipc {
namespace {

int32_t ResultOf(IoStatus status) {
  switch (status) {
    case IoStatus::kOk:
      return kIpcOk;
    case IoStatus::kTimeout:
      return kIpcTimeout;
    case IoStatus::kClosed:
    case IoStatus::kError:
      break;
  }
  return kIpcIoError;
}

// Connects |fd| to |path| before |deadline|. A full backlog (the server's
// workers are all busy) is waited out, not reported at once.
int32_t Connect(int fd, const std::string& path, Clock::time_point deadline) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  for (;;) {
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) return kIpcOk;
    if (errno == ENOENT || errno == ECONNREFUSED) return kIpcNoServer;
    if (errno != EAGAIN && errno != EINTR) return kIpcIoError;
    if (Clock::now() >= deadline) return kIpcTimeout;
    usleep(1000);
  }
}

}  // namespace

uint32_t IpcClient::GetFrameLimit() { return kFrameLimit; }

int32_t IpcClient::SetChannel(const char16_t* channel) {
  channel_ = channel != nullptr ? channel : u"";
  return kIpcOk;
}

int32_t IpcClient::SendMessage(const char16_t* address, const char* message, uint32_t length,
                               char16_t* reply, uint32_t* reply_size, uint32_t timeout_ms) {
  if ((message == nullptr && length > 0) || reply_size == nullptr ||
      (reply == nullptr && *reply_size > 0)) {
    return kIpcInvalidArgument;
  }
  const uint32_t capacity = *reply_size;
  *reply_size = 0;
  if (!IsLocalAddress(address)) return kIpcRefused;
  if (length > kFrameLimit) return kIpcTooLarge;
  const std::string path = ChannelSocketPath(channel_.c_str());
  if (path.empty()) return kIpcInvalidArgument;

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  platform::ScopedFd socket_fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket_fd.get() < 0) return kIpcIoError;
  if (int32_t result = Connect(socket_fd.get(), path, deadline); result != kIpcOk) return result;
  // The folder is private, but a server of another user must never get our text.
  if (!PeerIsSameUser(socket_fd.get())) return kIpcRefused;

  uint8_t header[4];
  PutLength(header, length);
  if (IoStatus status = WriteExact(socket_fd.get(), header, sizeof(header), deadline);
      status != IoStatus::kOk) {
    return ResultOf(status);
  }
  if (IoStatus status = WriteExact(socket_fd.get(), message, length, deadline);
      status != IoStatus::kOk) {
    return ResultOf(status);
  }

  uint8_t answer[5];
  if (IoStatus status = ReadExact(socket_fd.get(), answer, sizeof(answer), deadline);
      status != IoStatus::kOk) {
    return ResultOf(status);
  }
  const uint32_t size = GetLength(answer + 1);
  if (answer[0] == kNoReply) return kIpcNoReply;
  if (answer[0] != kReplyFollows || size > kFrameLimit + 1 || size % 2 != 0) return kIpcIoError;
  *reply_size = size;
  if (size > capacity) return kIpcReplyTooSmall;
  return ResultOf(ReadExact(socket_fd.get(), reply, size, deadline));
}

}  // namespace wardex::ipc
