#include "sntp_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

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

SntpResponder::SntpResponder(Mode mode, uint32_t receive_seconds, uint32_t receive_fraction,
                             int leap_indicator)
    : mode_(mode),
      receive_seconds_(receive_seconds),
      receive_fraction_(receive_fraction),
      leap_indicator_(leap_indicator) {
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

std::vector<uint8_t> SntpResponder::last_request() const {
  std::lock_guard lock(mutex_);
  return last_request_;
}

void SntpResponder::Serve() {
  while (!stop_) {
    pollfd watch{fd_, POLLIN, 0};
    if (poll(&watch, 1, 20) <= 0) continue;
    uint8_t request[128];
    sockaddr_in peer{};
    socklen_t peer_length = sizeof(peer);
    const ssize_t size = recvfrom(fd_, request, sizeof(request), 0,
                                  reinterpret_cast<sockaddr*>(&peer), &peer_length);
    if (size < 0) continue;
    {
      std::lock_guard lock(mutex_);
      last_request_.assign(request, request + size);
    }
    ++requests_;
    if (mode_ == Mode::kSilent || size < 48) continue;
    uint8_t answer[48] = {};
    answer[0] = static_cast<uint8_t>(leap_indicator_ << 6 | kVersion << 3 | kServerMode);
    answer[1] = 2;                              // stratum
    std::memcpy(answer + 24, request + 40, 8);  // originate = the client's transmit time
    if (mode_ == Mode::kGood) {
      PutBigEndian32(answer + 32, receive_seconds_);
      PutBigEndian32(answer + 36, receive_fraction_);
      PutBigEndian32(answer + 40, receive_seconds_);  // sent half a second after receiving
      PutBigEndian32(answer + 44, receive_fraction_ + 0x80000000u);
    }
    sendto(fd_, answer, sizeof(answer), 0, reinterpret_cast<const sockaddr*>(&peer), peer_length);
  }
}

}  // namespace wardex::test
