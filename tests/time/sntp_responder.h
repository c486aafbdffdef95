// A small SNTP server on 127.0.0.1 for the tests: it answers each request
// with the bytes that its reply function makes (none: silence) and counts
// the requests it gets, each once its reply is made: a reader that sees the
// count sees what the reply function stored.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace wardex::test {

class SntpResponder {
 public:
  using Bytes = std::vector<uint8_t>;
  // Makes the reply to one request; an empty reply, or none, is silence.
  using Reply = std::function<Bytes(const Bytes& request)>;

  explicit SntpResponder(Reply reply);
  ~SntpResponder();
  SntpResponder(const SntpResponder&) = delete;
  SntpResponder& operator=(const SntpResponder&) = delete;

  // A well-formed server answer to |request|: version 3, mode 4, stratum 2,
  // originate = the request's transmit time, receive = |seconds| (since
  // 1900) and |fraction|, transmit half a second later.
  static Bytes GoodAnswer(const Bytes& request, uint32_t seconds, uint32_t fraction = 0,
                          int leap_indicator = 0);

  uint16_t port() const { return port_; }
  int requests() const { return requests_.load(); }

 private:
  void Serve();

  Reply reply_;
  intptr_t fd_ = -1;  // the system's socket
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

}  // namespace wardex::test
