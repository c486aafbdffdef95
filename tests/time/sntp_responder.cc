#include "sntp_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <utility>

namespace wardex::test {
namespace {

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
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

SntpResponder::~SntpResponder() {
  stop_ = true;
  thread_.join();
  close(fd_);
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

SntpResponder::Reply SntpResponder::Answering(uint32_t seconds, uint32_t fraction,
                                              int leap_indicator) {
  return
      [=](const Bytes& request) { return GoodAnswer(request, seconds, fraction, leap_indicator); };
}

SntpResponder::Reply SntpResponder::Silent() {
  return [](const Bytes&) { return Bytes(); };
}

SntpResponder::Bytes SntpResponder::last_request() const {
  std::lock_guard lock(mutex_);
  return last_request_;
}

void SntpResponder::Serve() {
  while (!stop_) {
    pollfd watch{fd_, POLLIN, 0};
    if (poll(&watch, 1, 20) <= 0) continue;
    uint8_t buffer[128];
    sockaddr_in peer{};
    socklen_t peer_length = sizeof(peer);
    const ssize_t size =
        recvfrom(fd_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&peer), &peer_length);
    if (size < 0) continue;
    const Bytes request(buffer, buffer + size);
    {
      std::lock_guard lock(mutex_);
      last_request_ = request;
    }
    ++requests_;
    const Bytes answer = reply_(request);
    if (answer.empty()) continue;
    sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
           peer_length);
  }
}

}  // namespace wardex::test
