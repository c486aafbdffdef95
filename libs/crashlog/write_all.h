// Writing a whole text to a descriptor; async-signal-safe.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace wardex::crashlog {

// Writes all of |text|, retrying short and interrupted writes. False when the
// descriptor refuses it.
inline bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace wardex::crashlog
