#include "platform/library_loader.h"

namespace wardex::platform {

KaOSAL::KaString LibraryFileName(const char16_t* stem) {
  return KaOSAL::KaString(stem) + u"." + kLibraryExtension;
}

bool IsBareLibraryName(const KaOSAL::KaString& name) {
  return !name.IsEmpty() && name.Find(u'/') < 0 && name.Find(u'\\') < 0;
}

}  // namespace wardex::platform
