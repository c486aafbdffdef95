#include "sntp_responder.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstring>
#include <utility>

namespace wardex::test {
namespace {

#if defined(_WIN32)
using Socket = SOCKET;
using socklen_t = int;
void StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}
int Poll(pollfd* watch, int timeout_ms) { return WSAPoll(watch, 1, timeout_ms); }
void CloseSocket(Socket socket) { closesocket(socket); }
#else
using Socket = int;
void StartSockets() {}
int Poll(pollfd* watch, int timeout_ms) { return poll(watch, 1, timeout_ms); }
void CloseSocket(Socket socket) { close(socket); }
#endif

constexpr uint8_t kServerMode = 4;
constexpr uint8_t kVersion = 3;

void PutBigEndian32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

}  // namespace

SntpResponder::SntpResponder(Reply reply) : reply_(std::move(reply)) {
  StartSockets();
  const Socket fd = socket(AF_INET, SOCK_DGRAM, 0);
  fd_ = static_cast<intptr_t>(fd);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

SntpResponder::~SntpResponder() {
  stop_ = true;
  thread_.join();
  CloseSocket(static_cast<Socket>(fd_));
}

SntpResponder::Bytes SntpResponder::GoodAnswer(const Bytes& request, uint32_t seconds,
                                               uint32_t fraction, int leap_indicator) {
  Bytes answer(48, 0);
  answer[0] = static_cast<uint8_t>(leap_indicator << 6 | kVersion << 3 | kServerMode);
  answer[1] = 2;  // stratum
  if (request.size() >= 48) std::memcpy(answer.data() + 24, request.data() + 40, 8);
  PutBigEndian32(answer.data() + 32, seconds);
  PutBigEndian32(answer.data() + 36, fraction);
  PutBigEndian32(answer.data() + 40, seconds);  // sent half a second after receiving
  PutBigEndian32(answer.data() + 44, fraction + 0x80000000u);
  return answer;
}

void SntpResponder::Serve() {
  const auto fd = static_cast<Socket>(fd_);
  while (!stop_) {
    pollfd watch{fd, POLLIN, 0};
    if (Poll(&watch, 20) <= 0) continue;
    uint8_t buffer[128];
    sockaddr_in peer{};
    socklen_t peer_length = sizeof(peer);
    const auto size = recvfrom(fd, reinterpret_cast<char*>(buffer), sizeof(buffer), 0,
                               reinterpret_cast<sockaddr*>(&peer), &peer_length);
    if (size < 0) continue;
    const Bytes answer = reply_ ? reply_(Bytes(buffer, buffer + size)) : Bytes();
    ++requests_;
    if (answer.empty()) continue;
    sendto(fd, reinterpret_cast<const char*>(answer.data()), static_cast<int>(answer.size()), 0,
           reinterpret_cast<const sockaddr*>(&peer), peer_length);
  }
}

}  // namespace wardex::test
