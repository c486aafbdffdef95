#include "platform/runtime_dir_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/system_paths_linux.h"

namespace wardex::platform {
namespace {

constexpr mode_t kFolderMode = 0700;

// Returns the folder's path for the current environment, in UTF-8. A
// runtime folder of another user (root after "su" keeps the user's
// variable) is not ours to create anything in.
std::string RuntimeFolderPath() {
  const KaOSAL::KaString runtime = GetUserRuntimeFolder();
  if (!runtime.IsEmpty()) {
    const std::string folder =
        KaOSAL::ToUtf8(runtime.c_str(), static_cast<size_t>(runtime.GetLength()));
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0 && info.st_uid == geteuid()) return folder + "/wardex";
  }
  return "/tmp/wardex-" + std::to_string(geteuid());
}

// True when |path| is a folder (not a link) of the user without access for
// anybody else; sets the last error otherwise.
bool IsPrivateFolder(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
    KaOSAL::SetLastError(KaOSAL::kErrorAccessDenied);
    return false;
  }
  return true;
}

}  // namespace

KaOSAL::KaString GetRuntimeFolder() {
  const std::string path = RuntimeFolderPath();
  if (mkdir(path.c_str(), kFolderMode) != 0 && errno != EEXIST) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return {};
  }
  if (!IsPrivateFolder(path)) return {};
  return KaOSAL::KaString(path.c_str(), KaOSAL::KA_CP_UTF8);
}

}  // namespace wardex::platform
