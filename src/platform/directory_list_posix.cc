// Folder listing with readdir, whose order is the file system's own.
#include "platform/directory_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "osal/last_error.h"
#include "osal/wide_format.h"

namespace wardex::platform {

namespace {

// True when |name| inside the open folder is a folder, following links.
bool IsDirectoryAt(int folder, const dirent* entry) {
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
  struct stat info {};
  return fstatat(folder, entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool ListDirectory(const KaOSAL::KaString& folder, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  const std::string path = KaOSAL::ToUtf8(folder.c_str(), static_cast<size_t>(folder.GetLength()));
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::u16string name = KaOSAL::FromUtf8(entry->d_name, std::strlen(entry->d_name));
    entries.push_back({KaOSAL::KaString(name.c_str(), static_cast<int>(name.size())),
                       IsDirectoryAt(dirfd(dir), entry)});
  }
  closedir(dir);
  return true;
}

}  // namespace wardex::platform
