// The main frame's module cache: loaded modules kept by name, looked up from
// the pipe's threads as well as the frame's. The cache's lock guards only the
// map: no module code (loading, the trust check, the factory, any call into a
// module) ever runs under it, so a slow or re-entrant module holds up no
// lookup of another.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "modules/module_loader.h"
#include "osal/ka_path.h"
#include "osal/ka_string.h"

namespace wardex {

// The file of module |name|: "modules/<name>/<name>.so" in the folder of
// |executable| (the agent's full path).
KaOSAL::KaPath ModuleLibraryPath(const KaOSAL::KaPath& executable, const KaOSAL::KaString& name);

class ModuleCache {
 public:
  // Modules are looked for beside |executable|, by default the running one.
  ModuleCache();
  explicit ModuleCache(KaOSAL::KaPath executable);
  ~ModuleCache();
  ModuleCache(const ModuleCache&) = delete;
  ModuleCache& operator=(const ModuleCache&) = delete;

  // The cached loader of |name|. When there is none and |load_if_missing| is
  // set, loads the module, outside the cache's lock; callers asking for the
  // same name meanwhile wait for that load, so a module is made once. It
  // enters the cache only when its object was created. Returns null
  // otherwise, and for a name that is no plain folder name (a path separator
  // or ".." in it), which is logged and never loaded. The caller shares the
  // loader's ownership for as long as it calls into the module, so Remove or
  // Clear never unloads a module that a thread is in.
  std::shared_ptr<ModuleLoader> GetModule(KaOSAL::KaString name, bool load_if_missing);

  // Drops |name| from the cache; the module is unloaded once the last caller
  // that holds its loader lets go, and the next GetModule loads it anew.
  void Remove(const KaOSAL::KaString& name);

  // The cached modules in name order, for calls into them outside the lock.
  std::vector<std::pair<KaOSAL::KaString, std::shared_ptr<ModuleLoader>>> Snapshot() const;

  // Drops every cached loader (each is unloaded once no caller holds it) and
  // empties the cache.
  void Clear();

  size_t size() const;

 private:
  // One name's place: the loader once its module is made. Loading holds the
  // place's own lock, never the cache's.
  struct Place {
    std::mutex loading;
    std::shared_ptr<ModuleLoader> loader;  // guarded by the cache's lock
  };

  const KaOSAL::KaPath executable_;
  mutable std::mutex lock_;
  std::map<KaOSAL::KaString, std::shared_ptr<Place>> modules_;
};

}  // namespace wardex
