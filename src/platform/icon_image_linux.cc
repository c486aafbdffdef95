// Icons on Linux are the compiled-in drawings themselves: the shell's
// backend reads the PNG of the icon's resource.
#include "osal/last_error.h"
#include "platform/resources.h"

namespace wardex::platform {

HICON LoadIconImage(uint32_t id) {
  const IconResource* resource = FindIconResource(id);
  if (resource == nullptr) {
    KaOSAL::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return new IconImage{resource};
}

bool DestroyIcon(HICON icon) {
  if (icon == nullptr) return false;
  delete icon;
  return true;
}

}  // namespace wardex::platform
