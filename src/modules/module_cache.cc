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
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = modules_.find(name);
  if (found != modules_.end()) return found->second;
  if (!load_if_missing) return nullptr;
  auto loader = std::make_shared<ModuleLoader>();
  if (loader->Load(ModuleLibraryPath(executable_, name).ToString()) == nullptr) return nullptr;
  return modules_.emplace(std::move(name), std::move(loader)).first->second;
}

void ModuleCache::Remove(const KaOSAL::KaString& name) {
  std::shared_ptr<ModuleLoader> loader;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = modules_.find(name);
    if (found == modules_.end()) return;
    loader = std::move(found->second);
    modules_.erase(found);
  }
  // Unloading runs module code; not under the lock that the pipe's threads take.
}

void ModuleCache::ForEach(
    const std::function<void(const KaOSAL::KaString&, ModuleLoader&)>& visit) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& [name, loader] : modules_) visit(name, *loader);
}

void ModuleCache::Clear() {
  std::map<KaOSAL::KaString, std::shared_ptr<ModuleLoader>> modules;
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
