// ModuleLoader: owns one module library and the module object it made.
#pragma once

#include "osal/ka_string.h"
#include "platform/library_loader.h"
#include "wardex/module.h"

namespace wardex {

class ModuleLoader {
 public:
  ModuleLoader() = default;
  // Unloads.
  virtual ~ModuleLoader();
  ModuleLoader(const ModuleLoader&) = delete;
  ModuleLoader& operator=(const ModuleLoader&) = delete;

  // Loads the library at |name| (a path) through the trust check when none is
  // loaded, then creates the module's object when none exists. Returns the
  // object, or null. Once a library is loaded, |name| is not looked at: callers
  // pass an empty name to reach the existing object.
  IModule* Load(const KaOSAL::KaString& name);
  // The two steps of Load apart: loading runs the library's initialisers
  // under the loader's locks, creating the object is the library's own code.
  // True when a library is loaded.
  bool LoadLibrary(const KaOSAL::KaString& name);
  // Logs "CREATE Instance of %s" around the factory call when no object
  // exists; returns the object, or null.
  IModule* CreateInstance(const KaOSAL::KaString& name);

  // Destroys the object (when the library exports its destroy function) and
  // frees the library; the handle stays set when the free call fails.
  void Unload();

  IModule* instance() const { return instance_; }
  platform::LibraryHandle library() const { return library_; }

 private:
  platform::LibraryHandle library_ = nullptr;
  IModule* instance_ = nullptr;
};

}  // namespace wardex
