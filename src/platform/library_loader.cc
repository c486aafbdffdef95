#include "platform/library_loader.h"

namespace wardex::platform {

bool IsBareLibraryName(const KaOSAL::KaString& name) {
  return !name.IsEmpty() && name.Find(u'/') < 0 && name.Find(u'\\') < 0;
}

}  // namespace wardex::platform
