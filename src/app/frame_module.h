// A module the main frame loads itself (HandsetLink, Wardex, SnapCheck,
// Turbo), with its object; touched on the user-interface thread only.
// Unloaded when it goes, after StopMonitoring when asked for.
#pragma once

#include "modules/module_loader.h"
#include "wardex/module.h"

namespace wardex {

class FrameModule {
 public:
  enum class OnUnload { kNothing, kStopMonitoring };
  explicit FrameModule(OnUnload on_unload = OnUnload::kNothing) : on_unload_(on_unload) {}
  ~FrameModule();
  FrameModule(const FrameModule&) = delete;
  FrameModule& operator=(const FrameModule&) = delete;

  // Loads modules/<name>/<name>.so beside the agent; outside any guard,
  // since the library's initialisers run under the loader's locks.
  void LoadLibrary(const char16_t* name);
  // Plug-in code: the module's factory. Returns the object, or null.
  IModule* CreateInstance();

  [[nodiscard]] IModule* instance() const { return loader_.instance(); }
  // The object's switch part, kept once KeepSwitchPart found flag 0x20: the
  // static conversion is valid only for such an object.
  [[nodiscard]] IModuleSwitch* switch_part() const { return switch_part_; }
  void KeepSwitchPart();

 private:
  const OnUnload on_unload_;
  KaOSAL::KaString path_;
  ModuleLoader loader_;
  IModuleSwitch* switch_part_ = nullptr;
};

}  // namespace wardex
