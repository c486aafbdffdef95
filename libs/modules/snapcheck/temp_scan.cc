#include "temp_scan.h"

#include <filesystem>
#include <system_error>

#include "../common/demo_module.h"
#include "osal/ka_path.h"
#include "osal/wide_format.h"

namespace wardex::demo {

std::string TempFolder() {
  std::string folder = Utf8(KaOSAL::KaPath(KaOSAL::KaPath::eSpecialFolderTemp).ToString());
  // Keep a root's separator: "/" and "C:\\".
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\') &&
         folder[folder.size() - 2] != ':') {
    folder.pop_back();
  }
  return folder;
}

TempScan ScanFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  TempScan scan;
  scan.folder = folder;
  std::error_code error;
  // Through UTF-16, which the standard library turns into the system's own
  // spelling (UTF-8 on Linux, wide on Windows).
  fs::recursive_directory_iterator it(fs::path(KaOSAL::FromUtf8(folder)),
                                      fs::directory_options::skip_permission_denied, error);
  if (error) return scan;
  scan.ok = true;
  uint64_t entries = 0;
  for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
    if (error) break;  // a folder vanished under us: count what was seen
    if (++entries > kMaxScannedEntries) {
      scan.complete = false;
      break;
    }
    std::error_code entry_error;
    if (!it->is_regular_file(entry_error) || it->is_symlink(entry_error)) continue;
    const uintmax_t size = it->file_size(entry_error);
    if (entry_error) continue;
    ++scan.files;
    scan.bytes += size;
  }
  return scan;
}

}  // namespace wardex::demo
