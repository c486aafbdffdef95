#include <unistd.h>

#include <cerrno>

#include "platform/posix_io_internal.h"

namespace wardex::platform {

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

bool ReadToEnd(int fd, std::string* bytes, size_t max_bytes) {
  char chunk[16384];
  const size_t start = bytes->size();
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes->append(chunk, static_cast<size_t>(got));
    if (bytes->size() - start > max_bytes) {
      errno = EFBIG;
      return false;
    }
  }
}

bool ReadExactly(int fd, void* buffer, size_t size, int64_t offset) {
  auto* into = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    const ssize_t got = offset < 0 ? read(fd, into + done, size - done)
                                   : pread(fd, into + done, size - done,
                                           static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace wardex::platform
