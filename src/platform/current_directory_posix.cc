#include "platform/current_directory.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "osal/last_error.h"
#include "osal/wide_format.h"

namespace wardex::platform {
namespace {

// ERROR_DIRECTORY: the name is not a folder.
constexpr uint32_t kErrorDirectory = 267;

}  // namespace

bool SetCurrentDirectory(const KaOSAL::KaString& folder) {
  const std::string path = KaOSAL::ToUtf8(folder.c_str(), static_cast<size_t>(folder.GetLength()));
  if (chdir(path.c_str()) == 0) return true;
  if (errno == ENOTDIR) {
    KaOSAL::SetLastError(kErrorDirectory);
  } else {
    KaOSAL::SetLastErrorFromErrno(errno);
  }
  return false;
}

}  // namespace wardex::platform
