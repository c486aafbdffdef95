// The Wardex module's check: how much space is free on the file system that
// holds a folder (the user's home).
#pragma once

#include <cstdint>
#include <string>

namespace wardex::demo {

// Below this share of free space the check warns.
inline constexpr double kLowSpacePercent = 10.0;

struct DiskSpace {
  bool ok = false;     // false when the folder's file system could not be asked
  uint32_t error = 0;  // the system's error code when not ok
  std::string folder;
  uint64_t free_bytes = 0;  // available to an unprivileged user
  uint64_t total_bytes = 0;
  // 0 to 100; 0 when the size is unknown.
  double FreePercent() const;
  bool Low() const { return ok && FreePercent() < kLowSpacePercent; }
};

// Asks the file system that holds |folder|.
DiskSpace CheckFreeSpace(const std::string& folder);

// The folder the module checks: the user's home (on Windows the profile folder).
std::string HomeFolder();

}  // namespace wardex::demo
