// A process's executable read from its /proc exe link, for the executable's
// own path and the process snapshot. Header-only: it is built into libkaosal
// and into the platform library alike.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace wardex::platform {

// The target of |link| ("/proc/self/exe", "/proc/PID/exe") without the mark
// the kernel appends to a replaced or removed executable: a binary replaced
// by an upgrade keeps running from the folder it was started from. Empty
// with errno set when the link cannot be read (another user's process, a
// kernel thread, a zombie).
inline std::string ReadExeLink(const std::string& link) {
  char buffer[4096];
  const ssize_t length = readlink(link.c_str(), buffer, sizeof(buffer));
  if (length < 0) return {};
  if (static_cast<size_t>(length) >= sizeof(buffer)) {
    errno = ENAMETOOLONG;
    return {};
  }
  std::string path(buffer, static_cast<size_t>(length));
  constexpr std::string_view kDeletedMark = " (deleted)";
  if (path.ends_with(kDeletedMark)) path.resize(path.size() - kDeletedMark.size());
  return path;
}

}  // namespace wardex::platform
