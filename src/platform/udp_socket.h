// A connected IPv4 UDP socket, as one SNTP exchange needs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace wardex::platform {

// The Windows Sockets code for a name that does not resolve (WSAHOST_NOT_FOUND).
inline constexpr uint32_t kWsaHostNotFound = 11001;

class UdpSocket {
 public:
  UdpSocket();
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Opens the socket and connects it to |host| (dotted IPv4 text, else the
  // first IPv4 address the name resolves to) and |port|, closing the one
  // opened before. False with the last error set. The other calls fail with
  // the last error 6 (invalid handle) until one Connect succeeded.
  [[nodiscard]] bool Connect(const std::string& host, uint16_t port);
  // Sends one datagram; false with the last error set unless all went out.
  [[nodiscard]] bool Send(const void* data, size_t size);
  // Waits until a datagram can be read, at most |timeout_ms|; false with the
  // last error 10060 (timed out) when none came, or another code on failure.
  [[nodiscard]] bool WaitReadable(uint32_t timeout_ms);
  // Receives one datagram into |buffer|; the bytes received, or -1 with the
  // last error set.
  [[nodiscard]] long Receive(void* buffer, size_t size);

  // The platform's socket.
  struct Hold;

 private:
  std::unique_ptr<Hold> held_;  // null until connected
};

}  // namespace wardex::platform
