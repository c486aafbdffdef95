#include "platform/current_directory.h"

#include "platform/system_error_win_internal.h"
#include "platform/windows_api.h"

namespace wardex::platform {

bool SetCurrentDirectory(const KaOSAL::KaString& folder) {
  if (SetCurrentDirectoryW(reinterpret_cast<const wchar_t*>(folder.c_str()))) return true;
  KeepSystemError();
  return false;
}

}  // namespace wardex::platform
