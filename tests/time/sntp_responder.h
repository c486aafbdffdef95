// A small SNTP server on 127.0.0.1 for the tests: it answers well, answers
// with a zero time, or stays silent, and counts the requests it gets.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace wardex::test {

class SntpResponder {
 public:
  enum class Mode { kGood, kZeroTime, kSilent };

  // |receive_seconds| and |receive_fraction| make the answer's receive
  // timestamp (seconds since 1900); |leap_indicator| its top bits.
  explicit SntpResponder(Mode mode, uint32_t receive_seconds = 0, uint32_t receive_fraction = 0,
                         int leap_indicator = 0);
  ~SntpResponder();
  SntpResponder(const SntpResponder&) = delete;
  SntpResponder& operator=(const SntpResponder&) = delete;

  uint16_t port() const { return port_; }
  int requests() const { return requests_.load(); }
  std::vector<uint8_t> last_request() const;

 private:
  void Serve();

  Mode mode_;
  uint32_t receive_seconds_;
  uint32_t receive_fraction_;
  int leap_indicator_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  mutable std::mutex mutex_;
  std::vector<uint8_t> last_request_;
  std::thread thread_;
};

}  // namespace wardex::test
