// Icons on Windows are the program's own icon resources (resources_win.rc),
// loaded at their own size as the shell is given them.
#include "osal/last_error.h"
#include "platform/resources.h"
#include "platform/windows_api.h"

namespace wardex::platform {

HICON LoadIconImage(uint32_t id) {
  const IconResource* resource = FindIconResource(id);
  if (resource == nullptr) {
    KaOSAL::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  HANDLE system =
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, 0);
  if (system == nullptr) {
    KaOSAL::SetLastError(::GetLastError());
    return nullptr;
  }
  return new IconImage{resource, system};
}

bool DestroyIcon(HICON icon) {
  if (icon == nullptr) return false;
  ::DestroyIcon(static_cast<::HICON>(icon->system_icon));
  delete icon;
  return true;
}

}  // namespace wardex::platform
