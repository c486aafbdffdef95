// The registry store on the system's own registry. Paths are checked and
// normalised by the same rules as the Linux store (registry_key_path.h);
// keys that must never be deleted are refused before the system is asked.
// Without a view bit a key is opened in the 32-bit view: the agent was a
// 32-bit program, and the suite's other programs look for its values there.
#include <algorithm>
#include <string>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/registry_key_path.h"
#include "platform/registry_store.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

using KaOSAL::KaString;

constexpr uint32_t kViewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

// The system's handle of a predefined key, sign-extended as Windows does.
::HKEY SystemRoot(HKEY root) {
  return reinterpret_cast<::HKEY>(static_cast<intptr_t>(static_cast<int32_t>(root)));
}

// |access| with the view it asks for, the 32-bit one when it names none.
REGSAM WithView(uint32_t access) {
  return (access & kViewBits) != 0 ? access : access | KEY_WOW64_32KEY;
}

std::wstring WideText(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring WideName(const KaString& name) {
  return std::wstring(name.c_str(), name.c_str() + name.GetLength());
}

KaString FromWide(const wchar_t* text, size_t length) {
  return KaString(reinterpret_cast<const char16_t*>(text), static_cast<int>(length));
}

// A key path as the system takes it: components joined by single
// backslashes. False for a path the store calls invalid.
bool SystemPath(const KaString& path, registry::KeyPath* key, std::wstring* out) {
  if (!registry::SplitKeyPath(path, key)) return false;
  std::string joined;
  for (const std::string& component : key->written) {
    if (!joined.empty()) joined += '\\';
    joined += component;
  }
  *out = WideText(KaOSAL::FromUtf8(joined));
  return true;
}

// An open key, closed with the object.
class OpenKey {
 public:
  // Opens |path| below |root| with |access| (its view included); error()
  // says why when it could not.
  OpenKey(HKEY root, const KaString& path, REGSAM access) {
    registry::KeyPath key;
    std::wstring system_path;
    if (!SystemPath(path, &key, &system_path)) {
      error_ = KaOSAL::kErrorInvalidParameter;
      return;
    }
    error_ = static_cast<uint32_t>(
        RegOpenKeyExW(SystemRoot(root), system_path.c_str(), 0, access, &key_));
  }
  ~OpenKey() {
    if (error_ == ERROR_SUCCESS) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

  [[nodiscard]] uint32_t error() const { return error_; }
  [[nodiscard]] ::HKEY get() const { return key_; }

 private:
  ::HKEY key_ = nullptr;
  uint32_t error_ = ERROR_SUCCESS;
};

bool LessFolded(const KaString& a, const KaString& b) {
  return registry::FoldName(a) < registry::FoldName(b);
}

// Refuses the deletion of a root, HKLM\SOFTWARE and the classes keys (5),
// and an invalid path (87); 0 when |path| may go.
uint32_t CheckDeletable(HKEY root, const KaString& path, std::wstring* system_path) {
  registry::KeyPath key;
  if (!SystemPath(path, &key, system_path)) return KaOSAL::kErrorInvalidParameter;
  return registry::IsPermanent(root, key) ? KaOSAL::kErrorAccessDenied : KaOSAL::kErrorSuccess;
}

}  // namespace

uint32_t RegCreateKey(HKEY root, const KaString& path, uint32_t access) {
  registry::KeyPath key;
  std::wstring system_path;
  if (!SystemPath(path, &key, &system_path)) return KaOSAL::kErrorInvalidParameter;
  ::HKEY created = nullptr;
  const LSTATUS error = RegCreateKeyExW(SystemRoot(root), system_path.c_str(), 0, nullptr, 0,
                                        WithView(access), nullptr, &created, nullptr);
  if (error == ERROR_SUCCESS) RegCloseKey(created);
  return static_cast<uint32_t>(error);
}

uint32_t RegOpenKey(HKEY root, const KaString& path, uint32_t access) {
  return OpenKey(root, path, WithView(access)).error();
}

uint32_t RegQueryValue(HKEY root, const KaString& path, const KaString& name, uint32_t access,
                       uint32_t* type, uint8_t* data, uint32_t* size) {
  const OpenKey key(root, path, WithView(access) | KEY_QUERY_VALUE);
  if (key.error() != ERROR_SUCCESS) return key.error();
  DWORD value_type = REG_NONE;
  DWORD value_size = size != nullptr ? *size : 0;
  const LSTATUS error = RegQueryValueExW(key.get(), WideName(name).c_str(), nullptr, &value_type,
                                         data, size != nullptr ? &value_size : nullptr);
  if (error == ERROR_SUCCESS || error == ERROR_MORE_DATA) {
    if (type != nullptr) *type = value_type;
    if (size != nullptr) *size = value_size;
  }
  return static_cast<uint32_t>(error);
}

uint32_t RegSetValue(HKEY root, const KaString& path, const KaString& name, uint32_t access,
                     uint32_t type, const uint8_t* data, uint32_t size) {
  const OpenKey key(root, path, WithView(access) | KEY_SET_VALUE);
  if (key.error() != ERROR_SUCCESS) return key.error();
  return static_cast<uint32_t>(
      RegSetValueExW(key.get(), WideName(name).c_str(), 0, type, data, size));
}

uint32_t RegDeleteValue(HKEY root, const KaString& path, const KaString& name, uint32_t access) {
  const OpenKey key(root, path, WithView(access) | KEY_SET_VALUE);
  if (key.error() != ERROR_SUCCESS) return key.error();
  return static_cast<uint32_t>(RegDeleteValueW(key.get(), WideName(name).c_str()));
}

uint32_t RegDeleteKey(HKEY root, const KaString& path, uint32_t access) {
  std::wstring system_path;
  if (const uint32_t refused = CheckDeletable(root, path, &system_path)) return refused;
  const REGSAM view = WithView(access) & kViewBits;
  return static_cast<uint32_t>(RegDeleteKeyExW(SystemRoot(root), system_path.c_str(), view, 0));
}

uint32_t RegDeleteTree(HKEY root, const KaString& path, uint32_t access) {
  std::wstring system_path;
  if (const uint32_t refused = CheckDeletable(root, path, &system_path)) return refused;
  {
    // RegDeleteTreeW takes no view: the key is opened in it, emptied, then
    // deleted itself.
    const OpenKey key(root, path,
                      (WithView(access) & kViewBits) | DELETE | KEY_ENUMERATE_SUB_KEYS |
                          KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (key.error() != ERROR_SUCCESS) return key.error();
    if (const LSTATUS error = RegDeleteTreeW(key.get(), nullptr); error != ERROR_SUCCESS) {
      return static_cast<uint32_t>(error);
    }
  }
  return RegDeleteKey(root, path, access);
}

uint32_t RegFlushKey(HKEY root, const KaString& path, uint32_t access) {
  const OpenKey key(root, path, WithView(access));
  if (key.error() != ERROR_SUCCESS) return key.error();
  return static_cast<uint32_t>(::RegFlushKey(key.get()));
}

uint32_t RegEnumKeys(HKEY root, const KaString& path, uint32_t access,
                     std::vector<KaString>* names) {
  const OpenKey key(root, path, WithView(access) | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE);
  if (key.error() != ERROR_SUCCESS) return key.error();
  DWORD longest = 0;
  if (const LSTATUS error =
          RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, &longest, nullptr,
                           nullptr, nullptr, nullptr, nullptr, nullptr);
      error != ERROR_SUCCESS) {
    return static_cast<uint32_t>(error);
  }
  names->clear();
  std::wstring name(longest + 1, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LSTATUS error =
        RegEnumKeyExW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error != ERROR_SUCCESS) return static_cast<uint32_t>(error);
    names->push_back(FromWide(name.data(), length));
  }
  std::sort(names->begin(), names->end(), LessFolded);
  return KaOSAL::kErrorSuccess;
}

uint32_t RegEnumValues(HKEY root, const KaString& path, uint32_t access,
                       std::vector<RegValueEntry>* values) {
  const OpenKey key(root, path, WithView(access) | KEY_QUERY_VALUE);
  if (key.error() != ERROR_SUCCESS) return key.error();
  DWORD longest_name = 0;
  DWORD longest_data = 0;
  if (const LSTATUS error =
          RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           &longest_name, &longest_data, nullptr, nullptr);
      error != ERROR_SUCCESS) {
    return static_cast<uint32_t>(error);
  }
  values->clear();
  std::wstring name(longest_name + 1, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD type = REG_NONE;
    std::vector<uint8_t> data(longest_data);
    DWORD data_size = longest_data;
    const LSTATUS error = RegEnumValueW(key.get(), index, name.data(), &name_length, nullptr, &type,
                                        data.data(), &data_size);
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error != ERROR_SUCCESS) return static_cast<uint32_t>(error);
    data.resize(data_size);
    values->push_back({FromWide(name.data(), name_length), type, std::move(data)});
  }
  std::sort(values->begin(), values->end(), [](const RegValueEntry& a, const RegValueEntry& b) {
    return LessFolded(a.name, b.name);
  });
  return KaOSAL::kErrorSuccess;
}

}  // namespace wardex::platform
