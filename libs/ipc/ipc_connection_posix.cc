#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ipc_channel.h"
#include "ipc_socket_posix.h"

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

class Socket final : public Connection {
 public:
  explicit Socket(platform::ScopedFd fd) : fd_(std::move(fd)) {}

  IoStatus Read(void* buffer, size_t size, Clock::time_point deadline) override {
    auto* out = static_cast<uint8_t*>(buffer);
    while (size > 0) {
      if (IoStatus status = WaitReady(fd_.get(), POLLIN, deadline); status != IoStatus::kOk) {
        return status;
      }
      const ssize_t got = recv(fd_.get(), out, size, MSG_DONTWAIT);
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

  IoStatus Write(const void* data, size_t size, Clock::time_point deadline) override {
    const auto* in = static_cast<const uint8_t*>(data);
    while (size > 0) {
      if (IoStatus status = WaitReady(fd_.get(), POLLOUT, deadline); status != IoStatus::kOk) {
        return status;
      }
      const ssize_t put = send(fd_.get(), in, size, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (put < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return errno == EPIPE || errno == ECONNRESET ? IoStatus::kClosed : IoStatus::kError;
      }
      in += put;
      size -= static_cast<size_t>(put);
    }
    return IoStatus::kOk;
  }

  bool PeerLeft() override {
    pollfd peer{fd_.get(), POLLRDHUP, 0};
    return poll(&peer, 1, 0) > 0 && (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
  }

 private:
  platform::ScopedFd fd_;
};

// Connects |fd| to |path| before |deadline|. A full backlog (the server's
// connection slots are all taken) is waited out, not reported at once.
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

bool PeerIsSameUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof(peer);
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == geteuid();
}

std::unique_ptr<Connection> SocketConnection(platform::ScopedFd fd) {
  return std::make_unique<Socket>(std::move(fd));
}

std::unique_ptr<Connection> ConnectToServer(const char16_t* channel, Clock::time_point deadline,
                                            int32_t& result) {
  const std::string path = ChannelEndpoint(channel);
  if (path.empty()) {
    result = kIpcInvalidArgument;
    return nullptr;
  }
  platform::ScopedFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.get() < 0) {
    result = kIpcIoError;
    return nullptr;
  }
  result = Connect(fd.get(), path, deadline);
  if (result != kIpcOk) return nullptr;
  // The folder is private, but a server of another user must never get our text.
  if (!PeerIsSameUser(fd.get())) {
    result = kIpcRefused;
    return nullptr;
  }
  return SocketConnection(std::move(fd));
}

}  // namespace wardex::ipc
