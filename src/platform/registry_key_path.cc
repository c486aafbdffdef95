#include "platform/registry_key_path.h"

#include "osal/wide_format.h"

namespace wardex::platform::registry {

std::string KeyPath::FoldedText(size_t count) const {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) text += '\\';
    text += folded[i];
  }
  return text;
}

std::string FoldName(const KaOSAL::KaString& name) {
  KaOSAL::KaString folded(name);
  folded.MakeUpper();
  return KaOSAL::ToUtf8(folded.c_str(), static_cast<size_t>(folded.GetLength()));
}

bool SplitKeyPath(const KaOSAL::KaString& path, KeyPath* out) {
  std::u16string text(path.c_str(), static_cast<size_t>(path.GetLength()));
  size_t first = text.find_first_not_of(u'\\');
  if (first == std::u16string::npos) return true;
  text = text.substr(first, text.find_last_not_of(u'\\') - first + 1);
  size_t start = 0;
  for (;;) {
    size_t end = text.find(u'\\', start);
    std::u16string part = text.substr(start, end == std::u16string::npos ? end : end - start);
    if (part.empty()) return false;
    KaOSAL::KaString component(part.c_str(), static_cast<int>(part.size()));
    out->written.push_back(KaOSAL::ToUtf8(part));
    out->folded.push_back(FoldName(component));
    if (end == std::u16string::npos) return true;
    start = end + 1;
  }
}

View ViewOf(HKEY hive, const KeyPath& key, size_t depth, uint32_t access) {
  if (hive != HKEY_LOCAL_MACHINE || depth < 2 || key.folded.empty() ||
      key.folded[0] != "SOFTWARE") {
    return kShared;
  }
  return (access & KEY_WOW64_64KEY) != 0 && (access & KEY_WOW64_32KEY) == 0 ? kView64 : kView32;
}

bool IsPermanent(HKEY hive, const KeyPath& key) {
  const std::vector<std::string>& names = key.folded;
  if (names.empty()) return true;
  if (names[0] != "SOFTWARE" || names.size() > 2) return false;
  return names.size() == 2 ? names[1] == "CLASSES" : hive == HKEY_LOCAL_MACHINE;
}

KeyPath ClassesKey(const KeyPath& key) {
  KeyPath classes{{"SOFTWARE", "CLASSES"}, {"Software", "Classes"}};
  classes.folded.insert(classes.folded.end(), key.folded.begin(), key.folded.end());
  classes.written.insert(classes.written.end(), key.written.begin(), key.written.end());
  return classes;
}

}  // namespace wardex::platform::registry
