#include "ipc_wire.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace wardex::ipc {
namespace {

// Waits until |fd| is ready for |events| or the deadline passes.
IoStatus WaitReady(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return IoStatus::kTimeout;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left));
    if (ready > 0) return IoStatus::kOk;
    if (ready == 0) return IoStatus::kTimeout;
    if (errno != EINTR) return IoStatus::kError;
  }
}

}  // namespace

IoStatus ReadExact(int fd, void* buffer, size_t size, Clock::time_point deadline) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    if (IoStatus status = WaitReady(fd, POLLIN, deadline); status != IoStatus::kOk) return status;
    const ssize_t got = recv(fd, out, size, MSG_DONTWAIT);
    if (got == 0) return IoStatus::kClosed;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return IoStatus::kError;
    }
    out += got;
    size -= static_cast<size_t>(got);
  }
  return IoStatus::kOk;
}

IoStatus WriteExact(int fd, const void* buffer, size_t size, Clock::time_point deadline) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (size > 0) {
    if (IoStatus status = WaitReady(fd, POLLOUT, deadline); status != IoStatus::kOk) return status;
    const ssize_t put = send(fd, in, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (put < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return errno == EPIPE || errno == ECONNRESET ? IoStatus::kClosed : IoStatus::kError;
    }
    in += put;
    size -= static_cast<size_t>(put);
  }
  return IoStatus::kOk;
}

void PutLength(uint8_t* out, uint32_t length) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(length >> (8 * i));
}

uint32_t GetLength(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

bool PeerIsSameUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof(peer);
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == geteuid();
}

}  // namespace wardex::ipc
