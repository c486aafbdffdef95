#include "external/ve_library.h"

#include <utility>

#include "modules/module_library.h"
#include "osal/ka_path.h"

namespace wardex {

template <typename Interface>
VeLibrary<Interface>::VeLibrary(KaOSAL::KaString file_name, const char* factory,
                                const char* destroy)
    : file_name_(std::move(file_name)), factory_(factory), destroy_(destroy) {}

template <typename Interface>
VeLibrary<Interface>::~VeLibrary() {
  while (count_ > 0 && !Release()) {
  }
}

template <typename Interface>
bool VeLibrary<Interface>::Start() {
  if (count_ == 0 && instance_ == nullptr) {
    if (library_ == nullptr) library_ = LoadModuleLibrary(KaOSAL::KaPath(file_name_));
    if (library_ == nullptr) {
      KaOSAL::KaPath beside_program(KaOSAL::KaPath::eSpecialFolderExecutableDir);
      beside_program.SetFileNameAndExt(file_name_);
      library_ = LoadModuleLibrary(beside_program);
    }
    using Factory = Interface* (*)();
    auto create = reinterpret_cast<Factory>(platform::GetProcAddress(library_, factory_));
    if (create != nullptr) instance_ = create();
  }
  ++count_;
  return library_ != nullptr && instance_ != nullptr;
}

template <typename Interface>
bool VeLibrary<Interface>::Release() {
  if (count_ > 0) --count_;
  if (count_ > 0) return false;
  if (library_ != nullptr) {
    auto destroy =
        reinterpret_cast<DestroyVeInstanceFn>(platform::GetProcAddress(library_, destroy_));
    if (destroy != nullptr) destroy();
    // Nothing to do when the loader refuses: the library stays mapped.
    (void)platform::FreeLibrary(library_);
  }
  library_ = nullptr;
  instance_ = nullptr;
  return true;
}

template class VeLibrary<IVeLogger>;
template class VeLibrary<IVeStyler>;

VeLoggerLibrary MakeVeLoggerLibrary() {
  return VeLoggerLibrary(platform::LibraryFileName(u"VeLogger"), kGetLoggerInstanceExport,
                         kDestroyLoggerInstanceExport);
}

VeStylerLibrary MakeVeStylerLibrary() {
  return VeStylerLibrary(platform::LibraryFileName(u"VeStyler"), kGetStylerInstanceExport,
                         kDestroyStylerInstanceExport);
}

}  // namespace wardex
