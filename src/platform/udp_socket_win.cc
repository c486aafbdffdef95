#include "platform/udp_socket.h"

#include "platform/windows_api.h"

#include <memory>

#include "osal/last_error.h"

namespace wardex::platform {

struct UdpSocket::Hold {
  explicit Hold(SOCKET s) : socket(s) {}
  ~Hold() { closesocket(socket); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  SOCKET socket;
};

namespace {

// Winsock is started once for the process and left running until its end,
// as the sockets of other threads may still be in use then.
bool StartWinsock() {
  static const int result = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (result != 0) KaOSAL::SetLastError(static_cast<uint32_t>(result));
  return result == 0;
}

void SetLastSocketError() { KaOSAL::SetLastError(static_cast<uint32_t>(WSAGetLastError())); }

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

// The connected socket, or INVALID_SOCKET with the last error 6 (invalid
// handle) when there is none.
SOCKET Connected(const std::unique_ptr<UdpSocket::Hold>& held) {
  if (held != nullptr) return held->socket;
  KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
  return INVALID_SOCKET;
}

}  // namespace

UdpSocket::UdpSocket() = default;
UdpSocket::~UdpSocket() = default;

bool UdpSocket::Connect(const std::string& host, uint16_t port) {
  held_.reset();
  in_addr address{};
  if (!StartWinsock() || !ResolveIPv4(host, &address)) return false;
  const SOCKET s =
      WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    SetLastSocketError();
    return false;
  }
  auto held = std::make_unique<Hold>(s);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr = address;
  if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) != 0) {
    SetLastSocketError();
    return false;
  }
  held_ = std::move(held);
  return true;
}

bool UdpSocket::Send(const void* data, size_t size) {
  const SOCKET s = Connected(held_);
  if (s == INVALID_SOCKET) return false;
  const int sent = send(s, static_cast<const char*>(data), static_cast<int>(size), 0);
  if (sent != static_cast<int>(size)) {
    if (sent < 0) {
      SetLastSocketError();
    } else {
      KaOSAL::SetLastError(WSAEMSGSIZE);
    }
    return false;
  }
  return true;
}

bool UdpSocket::WaitReadable(uint32_t timeout_ms) {
  const SOCKET s = Connected(held_);
  if (s == INVALID_SOCKET) return false;
  WSAPOLLFD watch{s, POLLRDNORM, 0};
  const int ready = WSAPoll(&watch, 1, static_cast<int>(timeout_ms));
  if (ready < 0) {
    SetLastSocketError();
    return false;
  }
  if (ready == 0) {
    KaOSAL::SetLastError(KaOSAL::kWsaTimedOut);
    return false;
  }
  return true;
}

long UdpSocket::Receive(void* buffer, size_t size) {
  const SOCKET s = Connected(held_);
  if (s == INVALID_SOCKET) return -1;
  const int received = recv(s, static_cast<char*>(buffer), static_cast<int>(size), 0);
  if (received < 0) SetLastSocketError();
  return received;
}

}  // namespace wardex::platform
