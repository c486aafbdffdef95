#include "platform/atomic_file_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix_io_internal.h"
#include "platform/scoped_fd_posix.h"

namespace wardex::platform {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string TemporaryNameBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return FolderOf(path) + "/.wardex-tmp-" + std::to_string(getpid()) + "-" +
         std::to_string(counter++);
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                           const struct stat* old_info, int new_mode) {
  // A rename needs only the folder: without this a user who may write the
  // folder would replace a file that is not theirs to change.
  if (old_info != nullptr && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return false;
  std::string temp;
  ScopedFd fd;
  for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
    // Named by the folder alone: a name at the length limit leaves no room for a suffix.
    temp = TemporaryNameBeside(path);
    fd.reset(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0 && errno != EEXIST) return false;
  }
  if (fd.get() < 0) return false;
  bool ok = true;
  if (old_info != nullptr) {
    ok = fchmod(fd.get(), old_info->st_mode & 07777) == 0;
    if (ok && geteuid() == 0 && fchown(fd.get(), old_info->st_uid, old_info->st_gid) != 0) {
      ok = false;
    }
  } else if (new_mode >= 0) {
    ok = fchmod(fd.get(), static_cast<mode_t>(new_mode)) == 0;
  }
  ok = ok && WriteAll(fd.get(), bytes) && fsync(fd.get()) == 0;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    return false;
  }
  ScopedFd folder(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) fsync(folder.get());
  return true;
}

}  // namespace wardex::platform
