// Counts something in progress for exactly as long as an object lives, so
// that the count comes down on every way out, an exception's included.
#pragma once

#include <atomic>
#include <cstdint>

namespace wardex {

class ScopedCount {
 public:
  explicit ScopedCount(std::atomic<int32_t>& count) : count_(count), before_(count.fetch_add(1)) {}
  ~ScopedCount() { count_.fetch_sub(1); }
  ScopedCount(const ScopedCount&) = delete;
  ScopedCount& operator=(const ScopedCount&) = delete;

  // How many were in progress before this one.
  [[nodiscard]] int32_t before() const { return before_; }

 private:
  std::atomic<int32_t>& count_;
  const int32_t before_;
};

}  // namespace wardex
