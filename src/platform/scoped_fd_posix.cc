#include "platform/scoped_fd_posix.h"

#include <unistd.h>

#include <utility>

namespace wardex::platform {

int ScopedFd::release() { return std::exchange(fd_, -1); }

void ScopedFd::reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) close(fd_);
  fd_ = fd;
}

}  // namespace wardex::platform
