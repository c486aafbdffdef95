#include "disk_check.h"

#include "../common/demo_module.h"
#include "osal/last_error.h"
#include "platform/file_system.h"
#include "platform/system_paths.h"

namespace wardex::demo {

double DiskSpace::FreePercent() const {
  if (total_bytes == 0) return 0.0;
  return 100.0 * static_cast<double>(free_bytes) / static_cast<double>(total_bytes);
}

DiskSpace CheckFreeSpace(const std::string& folder) {
  DiskSpace space;
  space.folder = folder;
  platform::DiskSpace found;
  if (!platform::GetDiskSpace(Wide(folder), &found)) {
    space.error = KaOSAL::GetLastError();
    return space;
  }
  space.ok = true;
  space.free_bytes = found.available_bytes;
  space.total_bytes = found.total_bytes;
  return space;
}

std::string HomeFolder() { return Utf8(platform::GetUserHomeFolder()); }

}  // namespace wardex::demo
