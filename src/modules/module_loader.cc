#include "modules/module_loader.h"

#include "modules/module_library.h"
#include "time/stopwatch.h"
#include "wardex/crashlog.h"

namespace wardex {

ModuleLoader::~ModuleLoader() { Unload(); }

IModule* ModuleLoader::Load(const KaOSAL::KaString& name) {
  if (!LoadLibrary(name)) return instance_;
  return CreateInstance(name);
}

bool ModuleLoader::LoadLibrary(const KaOSAL::KaString& name) {
  if (library_ != nullptr) return true;
  if (name.IsEmpty()) return false;
  LogW(kLogTrace, u"LOAD DLL: %s", name.c_str());
  const Stopwatch load_time;
  library_ = LoadModuleLibrary(KaOSAL::KaPath(name));
  LogW(kLogTrace, u"LOAD DLL DONE: %s (%dms)", name.c_str(),
       static_cast<int>(load_time.ElapsedMilliseconds()));
  return library_ != nullptr;
}

IModule* ModuleLoader::CreateInstance(const KaOSAL::KaString& name) {
  if (library_ == nullptr || instance_ != nullptr) return instance_;
  auto create = reinterpret_cast<CreateInstanceOfModuleFn>(
      platform::GetProcAddress(library_, kCreateInstanceOfModuleExport));
  if (create == nullptr) return nullptr;
  LogW(kLogTrace, u"CREATE Instance of %s", name.c_str());
  const Stopwatch create_time;
  instance_ = create();
  LogW(kLogTrace, u"CREATE Instance of %s DONE (%dms)", name.c_str(),
       static_cast<int>(create_time.ElapsedMilliseconds()));
  return instance_;
}

void ModuleLoader::Unload() {
  if (library_ == nullptr) return;
  if (instance_ != nullptr) {
    auto destroy = reinterpret_cast<DestroyInstanceOfModuleFn>(
        platform::GetProcAddress(library_, kDestroyInstanceOfModuleExport));
    if (destroy != nullptr) {
      destroy(instance_);
      instance_ = nullptr;
    }
  }
  if (platform::FreeLibrary(library_)) {
    library_ = nullptr;
    instance_ = nullptr;  // an object that no destroy export took back dies with its code
  }
}

}  // namespace wardex
