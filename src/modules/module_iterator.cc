#include "modules/module_iterator.h"

#include <utility>
#include <vector>

#include "modules/module_loader.h"
#include "modules/wildcard_match.h"
#include "platform/directory_list.h"
#include "platform/library_loader.h"

namespace wardex {

namespace {

// Entries of |folder| matching |pattern| without regard to case, folders or
// files as asked, in the order the file system lists them.
std::vector<KaOSAL::KaString> MatchingEntries(const KaOSAL::KaString& folder,
                                              const KaOSAL::KaString& pattern, bool directories) {
  std::vector<platform::DirectoryEntry> entries;
  std::vector<KaOSAL::KaString> names;
  if (!platform::ListDirectory(folder, entries)) return names;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.is_directory == directories && MatchesFilePattern(entry.name, pattern))
      names.push_back(entry.name);
  }
  return names;
}

}  // namespace

CModuleIterator::CModuleIterator(KaOSAL::KaPath modules_folder)
    : folder_(std::move(modules_folder)) {
  folder_.SetFileName(u"");
}

CModuleIterator::~CModuleIterator() = default;

bool CModuleIterator::RegisterModules(KaOSAL::KaString name) { return Invoke(kRegister, name); }

bool CModuleIterator::UnregisterModules(KaOSAL::KaString name) { return Invoke(kUnregister, name); }

bool CModuleIterator::Invoke(Hook hook, const KaOSAL::KaString& name) {
  KaOSAL::KaString file_pattern = name.IsEmpty() ? KaOSAL::KaString(u"*") : name;
  file_pattern += u".";
  file_pattern += platform::kLibraryExtension;
  bool created = false;
  const KaOSAL::KaString folder = folder_.GetRootAndDir();
  for (const KaOSAL::KaString& module_dir : MatchingEntries(folder, name, /*directories=*/true)) {
    KaOSAL::KaPath module_folder(folder);
    module_folder.AppendDir(module_dir);
    const KaOSAL::KaString module_folder_text = module_folder.GetRootAndDir();
    for (const KaOSAL::KaString& file : MatchingEntries(module_folder_text, file_pattern, false)) {
      KaOSAL::KaPath file_path(module_folder);
      file_path.SetFileNameAndExt(file);
      if (InvokeFile(hook, file_path.ToString())) created = true;
    }
  }
  return created;
}

bool CModuleIterator::InvokeFile(Hook hook, const KaOSAL::KaString& file) {
  ModuleLoader loader;
  IModule* module = loader.Load(file);
  if (module == nullptr) return false;
  if (hook == kRegister) {
    module->Register();
  } else {
    module->Unregister();
  }
  loader.Unload();
  return true;
}

}  // namespace wardex
