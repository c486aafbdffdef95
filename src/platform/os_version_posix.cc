#include <sys/utsname.h>

#include <cstdlib>

#include "platform/os_version.h"

namespace wardex::platform {

OsVersion GetOsVersion() {
  OsVersion version;
  struct utsname names {};
  if (uname(&names) != 0) return version;
  version.kernel_name = names.sysname;
  version.release = names.release;
  version.machine = names.machine;
  char* rest = nullptr;
  version.major = static_cast<uint32_t>(std::strtoul(names.release, &rest, 10));
  if (rest != nullptr && *rest == '.')
    version.minor = static_cast<uint32_t>(std::strtoul(rest + 1, nullptr, 10));
  return version;
}

}  // namespace wardex::platform
