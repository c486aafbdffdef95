#include "modules/module_cache.h"

#include <utility>

#include "platform/library_loader.h"

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

ModuleLoader* ModuleCache::GetModule(KaOSAL::KaString name, bool load_if_missing) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = modules_.find(name);
  if (found != modules_.end()) return found->second.get();
  if (!load_if_missing) return nullptr;
  auto loader = std::make_unique<ModuleLoader>();
  if (loader->Load(ModuleLibraryPath(executable_, name).ToString()) == nullptr) return nullptr;
  return modules_.emplace(std::move(name), std::move(loader)).first->second.get();
}

void ModuleCache::ForEach(
    const std::function<void(const KaOSAL::KaString&, ModuleLoader&)>& visit) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& [name, loader] : modules_) visit(name, *loader);
}

void ModuleCache::Clear() {
  std::map<KaOSAL::KaString, std::unique_ptr<ModuleLoader>> modules;
  {
    std::lock_guard<std::mutex> hold(lock_);
    modules.swap(modules_);
  }
  // Unloading runs module code; not under the lock that the pipe's threads take.
}

size_t ModuleCache::size() const {
  std::lock_guard<std::mutex> hold(lock_);
  return modules_.size();
}

}  // namespace wardex
