#include "platform/special_folders.h"

#include <cerrno>
#include <cstdlib>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/exe_link_internal.h"

namespace wardex::platform {

std::u16string TemporaryFolderPath() {
  const char* folder = std::getenv("TMPDIR");
  return KaOSAL::FromUtf8(folder != nullptr && *folder != '\0' ? folder : "/tmp");
}

std::u16string ExecutableFilePath() {
  const std::string path = ReadExeLink("/proc/self/exe");
  if (path.empty()) KaOSAL::SetLastErrorFromErrno(errno);
  return KaOSAL::FromUtf8(path);
}

}  // namespace wardex::platform
