#include "disk_check.h"

#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace wardex::demo {

double DiskSpace::FreePercent() const {
  if (total_bytes == 0) return 0.0;
  return 100.0 * static_cast<double>(free_bytes) / static_cast<double>(total_bytes);
}

DiskSpace CheckFreeSpace(const std::string& folder) {
  DiskSpace space;
  space.folder = folder;
  struct statvfs info {};
  if (::statvfs(folder.c_str(), &info) != 0) {
    space.error = errno;
    return space;
  }
  space.ok = true;
  space.free_bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  space.total_bytes = static_cast<uint64_t>(info.f_blocks) * info.f_frsize;
  return space;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const struct passwd* entry = ::getpwuid(::getuid());
  if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') return entry->pw_dir;
  return "/";
}

}  // namespace wardex::demo
