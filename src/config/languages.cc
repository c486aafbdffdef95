#include "config/languages.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "config/install_config.h"
#include "config/module_path.h"
#include "config/os_language.h"
#include "config/placeholders.h"
#include "config/profile_string.h"
#include "config/uninstall_list.h"
#include "osal/wide_format.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/system_paths.h"
#include "wardex/crashlog.h"

namespace wardex {

using KaOSAL::KaPath;
using KaOSAL::KaString;

namespace {

constexpr char16_t kLanguageFolder[] = u"language";
constexpr int kMissingTextLogLevel = 9;

using languages_internal::TextSection;
using languages_internal::TextTable;

TextTable& Texts() {
  static TextTable table;
  return table;
}

KaString ConfiguredLanguage() {
  return ReadInstallConfig(u"install", u"Language", kNeutralLanguage);
}

// The executable's folder, with a trailing separator.
KaString ExecutableFolder() { return KaPath(GetExecutablePath()).GetRootAndDir(); }

KaString FileNameOf(const KaString& path) { return KaPath(path).GetFileName(); }

// Replaces |path| by the file name followed by "_" and |suffix| when that exists.
bool TryVariant(KaPath& path, const KaString& suffix) {
  KaPath candidate(path);
  candidate.SetFileName(path.GetFileName() + u"_" + suffix);
  if (!platform::FileExists(candidate.ToString())) return false;
  path = candidate;
  return true;
}

bool LocalizeWith(KaPath& path, const KaString& code) {
  if (TryVariant(path, code)) return true;
  const int underscore = code.Find(u'_');
  if (underscore > 0 && TryVariant(path, code.Left(underscore))) return true;
  if (platform::FileExists(path.ToString())) return true;
  KaPath inFolder(path);
  if (!inFolder.AppendDir(kLanguageFolder) ||
      !platform::DirectoryExists(inFolder.GetRootAndDir()) || !LocalizeWith(inFolder, code)) {
    return false;
  }
  path = inFolder;
  return true;
}

// Splits a double-zero-terminated list into lower-case names, stopping at the
// first empty name.
std::vector<KaString> SplitLowerNames(const std::vector<char16_t>& list) {
  std::vector<KaString> names;
  for (size_t start = 0; start < list.size() && list[start] != 0;) {
    KaString name(&list[start]);
    start += static_cast<size_t>(name.GetLength()) + 1;
    name.MakeLower();
    names.push_back(name);
  }
  return names;
}

// Reads a profile answer into |buffer|, growing it by |grow(size)| while the
// answer's length is at least the size minus |cut| (it may have been cut).
template <typename Grow>
std::vector<char16_t> ReadGrowing(const char16_t* section, const char16_t* key, uint32_t& size,
                                  uint32_t cut, const platform::ProfileSnapshot& file, Grow grow) {
  std::vector<char16_t> buffer;
  for (;;) {
    buffer.assign(size, 0);
    uint32_t length = file.GetString(section, key, u"", buffer.data(), size);
    if (length < size - cut) return buffer;
    size = grow(size);
  }
}

void FillTexts(TextTable& table) {
  KaPath path(ExecutableFolder() + kLanguageFolder + u"/Texts.ini");
  if (!LocalizePath(path)) path.SetFileName(path.GetFileName() + u"_EN");
  const KaString file = path.ToString();
  if (!platform::FileExists(file)) return;
  table = languages_internal::ReadTextTable(file);
}

// The file name, without extension, of the module that holds |address|.
KaString ModuleNameAt(const void* address) {
  return FileNameOf(platform::GetModuleFilePathOf(address));
}

}  // namespace

bool LocalizePath(KaPath& path) { return LocalizeWith(path, ConfiguredLanguage()); }

namespace languages_internal {

TextTable ReadTextTable(const KaString& file) {
  constexpr uint32_t kListBufferStep = 10024;
  constexpr uint32_t kValueBufferStep = 1024;
  TextTable table;
  const platform::ProfileSnapshot snapshot(file.c_str());
  uint32_t listSize = kListBufferStep;
  auto sections = SplitLowerNames(
      ReadGrowing(nullptr, nullptr, listSize, 2, snapshot, [](uint32_t size) { return size * 2; }));
  for (const KaString& section : sections) {
    auto keys = SplitLowerNames(ReadGrowing(section, nullptr, listSize, 2, snapshot,
                                            [](uint32_t size) { return size + kListBufferStep; }));
    TextSection texts;
    for (const KaString& key : keys) {
      uint32_t valueSize = kValueBufferStep;
      std::vector<char16_t> value =
          ReadGrowing(section, key, valueSize, 1, snapshot,
                      [](uint32_t size) { return size + kValueBufferStep; });
      KaString text(value.data());
      text.Replace(u"\\n", u"\n");
      texts[key] = text;
    }
    table[section] = std::move(texts);
  }
  return table;
}

}  // namespace languages_internal

void LoadTexts() {
  static std::once_flag filled;
  std::call_once(filled, [] { FillTexts(Texts()); });
}

KaString LookupText(const KaString& stringId, const KaString& section, bool expand) {
  KaString sectionName(section), key(stringId);
  sectionName.MakeLower();
  key.MakeLower();
  const TextTable& table = Texts();
  auto found = table.find(sectionName);
  if (found == table.end()) return KaString();
  auto text = found->second.find(key);
  if (text == found->second.end()) return KaString();
  KaString result = text->second;
  if (expand) ExpandPlaceholders(result);
  return result;
}

// Not inlined: the return address must lie in the caller's module.
__attribute__((noinline)) KaString LoadLocalizedString(const KaString& stringId, bool expand,
                                                       const KaString& moduleName) {
  LoadTexts();
  KaString module = moduleName;
  if (module.IsEmpty()) module = ModuleNameAt(__builtin_return_address(0));
  KaString text = LookupText(stringId, module, expand);
  if (text.IsEmpty()) text = LookupText(stringId, FileNameOf(GetExecutablePath()), expand);
  if (text.IsEmpty()) text = LookupText(stringId, u"general", expand);
  if (text.IsEmpty()) {
    LogW(kMissingTextLogLevel,
         u"LoadLocalizedString ## ERROR: Result is empty ## ModuleName: %s ## StringID: %s",
         module.c_str(), stringId.c_str());
  }
  return text;
}

bool ApplyOperatingSystemLanguage(bool force) {
  if (!force && ReadInstallConfig(u"install", u"OSLang", u"0").CompareNoCase(u"1") != 0) {
    return false;
  }
  const KaString code = GetOperatingSystemLanguageCode();
  static_cast<void>(
      WriteProfileString(u"install", u"Language", code, GetInstallConfigPath().ToString()));
  const KaString folder = ExecutableFolder() + kLanguageFolder + u"/";
  for (const char16_t* product : {u"QuenGuard", u"QuenRapid", u"QuenPure", u"Brisko"}) {
    const KaString source = folder + product + u"_Local_en_II.cfg";
    if (!platform::FileExists(source)) continue;
    const KaString target = folder + product + u"_Local_" + code + u".cfg";
    // An existing file for the language is kept; a failed copy is registered
    // all the same, so the uninstaller looks for it.
    if (!platform::FileExists(target)) {
      static_cast<void>(platform::CopyFileNoOverwrite(source, target));
    }
    RegisterForUninstall(KaPath(target));
  }
  return true;
}

KaPath GetLocalizedProductConfigPath() {
  static const KaPath path = [] {
    KaPath product(ExecutableFolder() + u"product.cfg");
    LocalizePath(product);
    if (platform::FileExists(product.ToString())) return product;
    return KaPath(ExecutableFolder() + u"install.cfg");
  }();
  return path;
}

std::vector<LanguageFile> LanguagesPresent() {
  const KaString folder = ExecutableFolder() + kLanguageFolder;
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(KaOSAL::ToUtf8(folder.c_str()), error))
    files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  std::vector<LanguageFile> languages;
  for (const std::string& file : files) {
    KaString code;
    if (file == "Texts.ini") {
      code = kNeutralLanguage;
    } else if (file.starts_with("Texts_") && file.ends_with(".ini") && file.size() > 10) {
      code = KaString(KaOSAL::FromUtf8(file.substr(6, file.size() - 10)).c_str());
    } else {
      continue;
    }
    const KaString path = folder + u"/" + KaString(KaOSAL::FromUtf8(file).c_str());
    LanguageFile language{
        code, ReadProfileString(u"ConsoleModule", u"CONSOLE_LANGUAGE_NAME", code, path)};
    if (code == kNeutralLanguage) {
      languages.insert(languages.begin(), std::move(language));
    } else {
      languages.push_back(std::move(language));
    }
  }
  return languages;
}

}  // namespace wardex
