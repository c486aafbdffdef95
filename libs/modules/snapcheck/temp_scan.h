// The SnapCheck module's quick check: what lies in the user's temporary
// folder, the first place a clean-up would look.
#pragma once

#include <cstdint>
#include <string>

namespace wardex::demo {

// A scan stops counting after this many entries, so a huge folder cannot hold
// the caller for long; the result then says it is incomplete.
inline constexpr uint64_t kMaxScannedEntries = 200000;

struct TempScan {
  std::string folder;
  bool ok = false;       // false when the folder could not be listed
  uint64_t files = 0;    // regular files, in every sub-folder that could be read
  uint64_t bytes = 0;    // their sizes added up
  bool complete = true;  // false when kMaxScannedEntries was reached
};

// The user's temporary folder without a trailing separator (Linux: $TMPDIR,
// else /tmp; Windows: TMP, TEMP or the profile's, as the system finds it).
std::string TempFolder();

TempScan ScanFolder(const std::string& folder);

}  // namespace wardex::demo
