// CModuleIterator: runs the install-time and uninstall-time hooks of the
// module libraries in the modules folder.
#pragma once

#include "osal/ka_path.h"
#include "osal/ka_string.h"

namespace wardex {

class CModuleIterator {
 public:
  // |modules_folder|: the modules folder; a file name and extension in it are
  // dropped.
  explicit CModuleIterator(KaOSAL::KaPath modules_folder);
  virtual ~CModuleIterator();
  CModuleIterator(const CModuleIterator&) = delete;
  CModuleIterator& operator=(const CModuleIterator&) = delete;

  // Run IModule::Register or Unregister of every module matching |name| (a
  // folder name pattern); true when at least one module object was created.
  bool RegisterModules(KaOSAL::KaString name);
  bool UnregisterModules(KaOSAL::KaString name);

  const KaOSAL::KaPath& folder() const { return folder_; }

 private:
  enum Hook : int { kUnregister = 0, kRegister = 1 };

  // For each folder matching |name| and each "<name>.so" in it: load, create,
  // run the hook, unload at once.
  bool Invoke(Hook hook, const KaOSAL::KaString& name);
  // Loads one module file, runs |hook| on its object; true when one was made.
  bool InvokeFile(Hook hook, const KaOSAL::KaString& file);

  KaOSAL::KaPath folder_;
};

}  // namespace wardex
