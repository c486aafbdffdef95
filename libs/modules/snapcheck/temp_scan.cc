#include "temp_scan.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace wardex::demo {

std::string TempFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::error_code error;
  if (tmpdir != nullptr && tmpdir[0] == '/' && std::filesystem::is_directory(tmpdir, error))
    return tmpdir;
  return "/tmp";
}

TempScan ScanFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  TempScan scan;
  scan.folder = folder;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
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
