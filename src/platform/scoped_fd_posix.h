// Owns a file descriptor and closes it when it goes out of scope, so that every
// early return closes what was opened.
#pragma once

namespace wardex::platform {

class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() { reset(); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    reset(other.release());
    return *this;
  }

  // The descriptor, or -1 when none is owned.
  [[nodiscard]] int get() const { return fd_; }
  // Hands the descriptor to the caller, who closes it from then on.
  [[nodiscard]] int release();
  // Closes the owned descriptor, if any, and takes |fd|.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

}  // namespace wardex::platform
