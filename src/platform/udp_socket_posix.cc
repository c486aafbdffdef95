#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "osal/last_error.h"
#include "platform/scoped_fd_posix.h"

namespace wardex::platform {

struct UdpSocket::Hold {
  ScopedFd socket;
};

namespace {

// Returns the IPv4 address of |host| in |address|: the dotted text itself,
// else the first address of the name. False with the last error set.
bool ResolveIPv4(const std::string& host, in_addr* address) {
  if (inet_pton(AF_INET, host.c_str(), address) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    KaOSAL::SetLastError(kWsaHostNotFound);
    return false;
  }
  *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

// The connected socket's descriptor, or -1 with the last error 6 (invalid
// handle) when there is none.
int Descriptor(const std::unique_ptr<UdpSocket::Hold>& held) {
  if (held != nullptr) return held->socket.get();
  KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
  return -1;
}

}  // namespace

UdpSocket::UdpSocket() = default;
UdpSocket::~UdpSocket() = default;

bool UdpSocket::Connect(const std::string& host, uint16_t port) {
  held_.reset();
  in_addr address{};
  if (!ResolveIPv4(host, &address)) return false;
  ScopedFd socket_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (socket_fd.get() < 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr = address;
  if (connect(socket_fd.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  held_ = std::make_unique<Hold>(Hold{std::move(socket_fd)});
  return true;
}

bool UdpSocket::Send(const void* data, size_t size) {
  const int fd = Descriptor(held_);
  if (fd < 0) return false;
  const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
  if (sent != static_cast<ssize_t>(size)) {
    KaOSAL::SetLastErrorFromErrno(sent < 0 ? errno : EIO);
    return false;
  }
  return true;
}

bool UdpSocket::WaitReadable(uint32_t timeout_ms) {
  const int fd = Descriptor(held_);
  if (fd < 0) return false;
  pollfd watch{fd, POLLIN, 0};
  const int ready = poll(&watch, 1, static_cast<int>(timeout_ms));
  if (ready < 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  if (ready == 0) {
    KaOSAL::SetLastError(KaOSAL::kWsaTimedOut);
    return false;
  }
  return true;
}

long UdpSocket::Receive(void* buffer, size_t size) {
  const int fd = Descriptor(held_);
  if (fd < 0) return -1;
  const ssize_t received = recv(fd, buffer, size, 0);
  if (received < 0) KaOSAL::SetLastErrorFromErrno(errno);
  return static_cast<long>(received);
}

}  // namespace wardex::platform
