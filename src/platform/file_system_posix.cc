#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/atomic_file_posix.h"
#include "platform/posix_io_internal.h"
#include "platform/scoped_fd_posix.h"

namespace wardex::platform {
namespace {

std::string Native(const KaOSAL::KaString& path) {
  return KaOSAL::ToUtf8(path.c_str(), static_cast<size_t>(path.GetLength()));
}

bool HasMode(const KaOSAL::KaString& path, mode_t type) {
  struct stat info {};
  return stat(Native(path).c_str(), &info) == 0 && (info.st_mode & S_IFMT) == type;
}

// Copies the open file |from| into the open file |to|. False with errno set.
bool CopyContent(int from, int to) {
  char chunk[65536];
  for (;;) {
    ssize_t got = read(from, chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    if (!WriteAll(to, std::string_view(chunk, static_cast<size_t>(got)))) return false;
  }
}

}  // namespace

bool FileExists(const KaOSAL::KaString& path) { return HasMode(path, S_IFREG); }

bool DirectoryExists(const KaOSAL::KaString& path) { return HasMode(path, S_IFDIR); }

bool RemoveFile(const KaOSAL::KaString& path) {
  if (unlink(Native(path).c_str()) == 0 || errno == ENOENT) return true;
  KaOSAL::SetLastErrorFromErrno(errno);
  return false;
}

bool CopyFileNoOverwrite(const KaOSAL::KaString& source, const KaOSAL::KaString& target) {
  static std::atomic<unsigned> counter{0};
  const std::string to = Native(target);
  const std::string temp =
      to + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  ScopedFd from(open(Native(source).c_str(), O_RDONLY | O_CLOEXEC));
  if (from.get() < 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  ScopedFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  bool ok = out.get() >= 0 && CopyContent(from.get(), out.get()) && fsync(out.get()) == 0;
  int saved = errno;
  const bool created = out.get() >= 0;
  from.reset();
  out.reset();
  // link() fails when the target exists, so an existing file is never replaced.
  if (ok && link(temp.c_str(), to.c_str()) != 0) {
    saved = errno;
    ok = false;
  }
  if (created) unlink(temp.c_str());
  if (!ok) KaOSAL::SetLastErrorFromErrno(saved);
  return ok;
}

bool ReadWholeFile(const KaOSAL::KaString& path, size_t max_bytes, std::string* bytes) {
  ScopedFd fd(open(Native(path).c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) > max_bytes) {
    KaOSAL::SetLastErrorFromErrno(S_ISREG(info.st_mode) ? EFBIG : ENOENT);
    return false;
  }
  std::string read(static_cast<size_t>(info.st_size), '\0');
  // A file cut short while it was read is not read whole.
  if (!ReadExactly(fd.get(), read.data(), read.size())) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  *bytes = std::move(read);
  return true;
}

bool ReplaceFileContent(const KaOSAL::KaString& path, const std::string& bytes) {
  const std::string native = Native(path);
  struct stat info {};
  const bool existed = stat(native.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  if (!ReplaceFileAtomically(native, bytes, existed ? &info : nullptr)) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool AppendToFile(const KaOSAL::KaString& path, const std::string& bytes) {
  ScopedFd file(open(Native(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (file.get() < 0 || !WriteAll(file.get(), bytes)) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool GetDiskSpace(const KaOSAL::KaString& folder, DiskSpace* space) {
  struct statvfs info {};
  if (statvfs(Native(folder).c_str(), &info) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  space->available_bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  space->total_bytes = static_cast<uint64_t>(info.f_blocks) * info.f_frsize;
  return true;
}

}  // namespace wardex::platform
