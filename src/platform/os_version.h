// The running system's name, release and machine, for the HTTP client's
// User-Agent and the news feed's request.
#pragma once

#include <cstdint>
#include <string>

namespace wardex::platform {

struct OsVersion {
  std::string kernel_name;  // "Linux"
  std::string release;      // "6.1.0-18-amd64"
  std::string machine;      // "x86_64"
  uint32_t major = 0;       // the release's leading numbers: 6
  uint32_t minor = 0;       // 1
};

OsVersion GetOsVersion();

}  // namespace wardex::platform
