#include "platform/create_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/scoped_fd_posix.h"

namespace wardex::platform {
namespace {

constexpr mode_t kFolderMode = 0755;

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes the folder |path| unless it exists. False with the last error set.
bool MakeFolder(const std::string& path, bool readable_by_all) {
  if (mkdir(path.c_str(), kFolderMode) != 0) {
    if (errno == EEXIST) return true;
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  // A restrictive umask must not hide a folder that every user reads.
  if (readable_by_all && chmod(path.c_str(), kFolderMode) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

}  // namespace

bool CreateFolder(const KaOSAL::KaString& path, bool readable_by_all) {
  const std::string utf8 = KaOSAL::ToUtf8(path.c_str(), static_cast<size_t>(path.GetLength()));
  // Each prefix ending before a "/" is a parent; the whole path comes last.
  for (size_t end = utf8.find('/', 1);; end = utf8.find('/', end + 1)) {
    const std::string part = utf8.substr(0, end);
    if (!part.empty() && !MakeFolder(part, readable_by_all)) return false;
    if (end == std::string::npos) break;
  }
  if (!IsFolder(utf8)) {
    KaOSAL::SetLastError(KaOSAL::kErrorPathNotFound);
    return false;
  }
  return true;
}

bool IsFolderOfOwnerOrRoot(const KaOSAL::KaString& path) {
  const std::string utf8 = KaOSAL::ToUtf8(path.c_str(), static_cast<size_t>(path.GetLength()));
  struct stat info {};
  if (lstat(utf8.c_str(), &info) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode) || (info.st_uid != 0 && info.st_uid != geteuid()) ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    KaOSAL::SetLastError(KaOSAL::kErrorAccessDenied);
    return false;
  }
  return true;
}

bool SetFileMode(const KaOSAL::KaString& path, uint32_t mode) {
  // Opened without following a link: in a folder that every user may write
  // to, another user could put one in the place of ours. A trailing "/"
  // would have the link followed all the same.
  std::string utf8 = KaOSAL::ToUtf8(path.c_str(), static_cast<size_t>(path.GetLength()));
  while (utf8.size() > 1 && utf8.back() == '/') utf8.pop_back();
  const ScopedFd fd(open(utf8.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0 || fchmod(fd.get(), mode) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

}  // namespace wardex::platform
