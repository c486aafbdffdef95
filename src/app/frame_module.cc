#include "app/frame_module.h"

#include "config/module_path.h"
#include "modules/module_cache.h"

namespace wardex {

FrameModule::~FrameModule() {
  IModule* module = loader_.instance();
  if (module != nullptr && on_unload_ == OnUnload::kStopMonitoring) module->StopMonitoring();
  switch_part_ = nullptr;
  loader_.Unload();
}

void FrameModule::LoadLibrary(const char16_t* name) {
  path_ = ModuleLibraryPath(KaOSAL::KaPath(GetExecutablePath()), name).ToString();
  static_cast<void>(loader_.LoadLibrary(path_));
}

IModule* FrameModule::CreateInstance() { return loader_.CreateInstance(path_); }

void FrameModule::KeepSwitchPart() {
  IModule* module = loader_.instance();
  if (module != nullptr && (module->GetFlags() & kModuleFlagSwitch) != 0) {
    switch_part_ = ToModuleSwitch(module);
  }
}

}  // namespace wardex
