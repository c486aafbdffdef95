// CRegistry: a registry key wrapper that holds no open key between calls.
// Every operation opens the key path below the root, does one thing and
// closes it again; unless flushing is lazy, every open and every write is
// flushed at once.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"
#include "platform/registry_store.h"

namespace wardex {

using platform::HKEY;
using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_CURRENT_CONFIG;
using platform::HKEY_CURRENT_USER;
using platform::HKEY_LOCAL_MACHINE;
using platform::HKEY_USERS;

class CRegistry {
 public:
  // Registry views for SetRegistryView.
  enum : int { kView32 = 0, kView64 = 1, kViewNative = 2 };

  explicit CRegistry(bool flushLazily);
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;

  // Accepts only HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and
  // HKEY_USERS; returns false and changes nothing for any other root.
  bool SetRootKey(HKEY root);
  // 0: the 32-bit view, 1: the 64-bit view, 2: the native view (no flag);
  // other values change nothing.
  void SetRegistryView(int view);

  // Leading backslashes are stripped; an empty path clears the key path and
  // succeeds (the operations then act on the root key itself).
  bool Open(const KaOSAL::KaString& path, bool create);

  // Fixed-size reads: they fail, and give the default, when the stored data is
  // larger than the size read; the stored type is not looked at.
  bool ReadBool(const KaOSAL::KaString& name, bool defaultValue);           // 1 byte
  int ReadInt(const KaOSAL::KaString& name, int defaultValue);              // 4 bytes
  uint32_t ReadDWord(const KaOSAL::KaString& name, uint32_t defaultValue);  // 4 bytes
  int64_t ReadQWord(const KaOSAL::KaString& name, int64_t defaultValue);    // 8 bytes
  // Only REG_SZ and REG_EXPAND_SZ data (the latter is not expanded).
  KaOSAL::KaString ReadString(const KaOSAL::KaString& name, const KaOSAL::KaString& defaultValue);

  bool WriteDWord(const KaOSAL::KaString& name, uint32_t value);  // REG_DWORD
  bool WriteQWord(const KaOSAL::KaString& name, int64_t value);   // 8 bytes as REG_BINARY
  bool WriteString(const KaOSAL::KaString& name, const KaOSAL::KaString& value);  // REG_SZ

  bool ValueExists(const KaOSAL::KaString& name);
  bool DeleteValue(const KaOSAL::KaString& name);

  // The Win32 code of the last open or read, 0 on success.
  uint32_t GetLastResult() const { return m_lastResult; }
  HKEY GetRootKey() const { return m_rootKey; }
  const KaOSAL::KaString& GetKeyPath() const { return m_keyPath; }

 private:
  // Reads exactly |size| bytes into |out|; false (and the default) otherwise.
  bool ReadFixed(const KaOSAL::KaString& name, void* out, uint32_t size);
  bool WriteValue(const KaOSAL::KaString& name, uint32_t type, const void* data, uint32_t size);
  uint32_t Access(uint32_t rights) const { return rights | m_viewFlags; }

  uint32_t m_lastResult = 0;
  HKEY m_rootKey = HKEY_CURRENT_USER;
  bool m_flushLazily;
  KaOSAL::KaString m_keyPath;
  uint32_t m_viewFlags = 0;
};

}  // namespace wardex
