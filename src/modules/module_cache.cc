#include "modules/module_cache.h"

#include <utility>

#include "platform/library_loader.h"
#include "wardex/crashlog.h"

namespace wardex {

KaOSAL::KaPath ModuleLibraryPath(const KaOSAL::KaPath& executable, const KaOSAL::KaString& name) {
  KaOSAL::KaPath path(executable);
  path.AppendDir(u"modules");
  path.AppendDir(name);
  path.SetFileName(name);
  path.SetExt(platform::kLibraryExtension);
  return path;
}

ModuleCache::ModuleCache()
    : ModuleCache(KaOSAL::KaPath(KaOSAL::KaPath::eSpecialFolderExecutablePath)) {}

ModuleCache::ModuleCache(KaOSAL::KaPath executable) : executable_(std::move(executable)) {}

ModuleCache::~ModuleCache() { Clear(); }

namespace {

// A module's name is one folder name under "modules": a name from the pipe
// must not reach another folder.
bool IsPlainModuleName(const KaOSAL::KaString& name) {
  return name.Find(u'/') < 0 && name.Find(u'\\') < 0 && name.Find(u"..") < 0;
}

}  // namespace

std::shared_ptr<ModuleLoader> ModuleCache::GetModule(KaOSAL::KaString name, bool load_if_missing) {
  if (!IsPlainModuleName(name)) {
    LogW(kLogError, u"ERROR: refused module name %s", name.c_str());
    return nullptr;
  }
  std::shared_ptr<Place> place;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = modules_.find(name);
    if (found != modules_.end() && found->second->loader) return found->second->loader;
    if (!load_if_missing) return nullptr;
    place = found != modules_.end()
                ? found->second
                : modules_.emplace(name, std::make_shared<Place>()).first->second;
  }
  std::lock_guard<std::mutex> loading(place->loading);
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (place->loader) return place->loader;  // loaded while this caller waited
  }
  auto loader = std::make_shared<ModuleLoader>();
  const bool loaded = loader->Load(ModuleLibraryPath(executable_, name).ToString()) != nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  if (loaded) {
    place->loader = loader;
    return loader;
  }
  // A failed load leaves no place behind: the next request tries again.
  const auto found = modules_.find(name);
  if (found != modules_.end() && found->second == place) modules_.erase(found);
  return nullptr;
}

void ModuleCache::Remove(const KaOSAL::KaString& name) {
  std::shared_ptr<Place> place;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = modules_.find(name);
    if (found == modules_.end()) return;
    place = std::move(found->second);
    modules_.erase(found);
  }
  // Unloading runs module code; not under the lock.
}

std::vector<std::pair<KaOSAL::KaString, std::shared_ptr<ModuleLoader>>> ModuleCache::Snapshot()
    const {
  std::vector<std::pair<KaOSAL::KaString, std::shared_ptr<ModuleLoader>>> modules;
  std::lock_guard<std::mutex> hold(lock_);
  for (const auto& [name, place] : modules_) {
    if (place->loader) modules.emplace_back(name, place->loader);
  }
  return modules;
}

void ModuleCache::Clear() {
  std::map<KaOSAL::KaString, std::shared_ptr<Place>> modules;
  {
    std::lock_guard<std::mutex> hold(lock_);
    modules.swap(modules_);
  }
  // Unloading runs module code; not under the lock.
}

size_t ModuleCache::size() const {
  std::lock_guard<std::mutex> hold(lock_);
  size_t loaded = 0;
  for (const auto& entry : modules_) loaded += entry.second->loader ? 1 : 0;
  return loaded;
}

}  // namespace wardex
