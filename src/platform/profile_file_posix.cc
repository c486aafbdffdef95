#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "osal/last_error.h"
#include "platform/atomic_file_posix.h"
#include "platform/posix_io_internal.h"
#include "platform/profile_file_internal.h"
#include "platform/scoped_fd_posix.h"
#include "platform/thread.h"

namespace wardex::platform {
namespace {

// True when |info| describes a file that this process may read; a shared
// one (|shared_max_bytes| above 0) only when root or this user owns it and it
// is no larger than that.
bool Acceptable(const struct stat& info, size_t shared_max_bytes) {
  if (!S_ISREG(info.st_mode)) return false;
  if (shared_max_bytes == 0) return true;
  return (info.st_uid == 0 || info.st_uid == geteuid()) &&
         static_cast<uint64_t>(info.st_size) <= shared_max_bytes;
}

// Reads the whole file; false with errno set when it cannot be read. A FIFO
// or a device put where the file should be is never waited on; a shared file
// is not followed through a link either, and no more than its limit is read
// even from a file that grows meanwhile.
bool ReadAll(const std::string& path, std::string* bytes, size_t shared_max_bytes) {
  const int flags =
      O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (shared_max_bytes > 0 ? O_NOFOLLOW : 0);
  ScopedFd fd(open(path.c_str(), flags));
  struct stat info {};
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0) return false;
  if (!Acceptable(info, shared_max_bytes)) {
    errno = ENOENT;
    return false;
  }
  bytes->clear();
  return ReadToEnd(fd.get(), bytes, shared_max_bytes > 0 ? shared_max_bytes : SIZE_MAX);
}

}  // namespace

bool ReadProfileFile(const std::string& path, std::string* bytes, size_t shared_max_bytes) {
  if (ReadAll(path, bytes, shared_max_bytes)) return true;
  KaOSAL::SetLastErrorFromErrno(errno);
  return false;
}

// A loop of links is left as it is: reading it then fails as an open would.
std::string ProfileWriteTarget(const std::string& path) {
  constexpr int kMaxLinks = 40;  // the kernel's own limit
  std::string target_path = path;
  for (int link = 0; link < kMaxLinks; ++link) {
    char target[PATH_MAX];
    ssize_t length = readlink(target_path.c_str(), target, sizeof(target));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof(target)) return target_path;
    std::string next(target, static_cast<size_t>(length));
    target_path = next[0] == '/' ? next : FolderOf(target_path) + "/" + next;
  }
  return target_path;
}

bool ReplaceProfileFile(const std::string& path, const std::string& bytes) {
  struct stat info {};
  const bool existed = stat(path.c_str(), &info) == 0;
  if (ReplaceFileAtomically(path, bytes, existed ? &info : nullptr)) return true;
  KaOSAL::SetLastErrorFromErrno(errno);
  return false;
}

// The lock is a flock on the file's folder: locks on the file itself would
// not survive the rename. Any user who can open the folder can hold it, so it
// is tried, never waited for.
ProfileWriteLock::ProfileWriteLock(const std::string& path)
    : handle_(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (handle_ < 0) return;  // the write itself reports why
  for (int attempt = 0; attempt < kTries; ++attempt) {
    if (flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) == 0) return;
    if (errno != EWOULDBLOCK && errno != EINTR) return;
    SleepMilliseconds(kRetryMs);
  }
  close(static_cast<int>(handle_));
  handle_ = -1;
  refused_ = true;
}

ProfileWriteLock::~ProfileWriteLock() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

}  // namespace wardex::platform
