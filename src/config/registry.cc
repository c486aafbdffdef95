#include "config/registry.h"

#include <cstring>
#include <vector>

#include "osal/last_error.h"

namespace wardex {

using KaOSAL::KaString;
namespace reg = platform;

CRegistry::CRegistry(bool flushLazily) : m_flushLazily(flushLazily) {}

bool CRegistry::SetRootKey(HKEY root) {
  switch (root) {
    case HKEY_CLASSES_ROOT:
    case HKEY_CURRENT_USER:
    case HKEY_LOCAL_MACHINE:
    case HKEY_USERS:
      m_rootKey = root;
      return true;
    default:
      return false;
  }
}

void CRegistry::SetRegistryView(int view) {
  switch (view) {
    case kView32:
      m_viewFlags = reg::KEY_WOW64_32KEY;
      break;
    case kView64:
      m_viewFlags = reg::KEY_WOW64_64KEY;
      break;
    case kViewNative:
      m_viewFlags = 0;
      break;
    default:
      break;
  }
}

bool CRegistry::Open(const KaString& path, bool create) {
  KaString stripped(path);
  stripped.TrimLeft(u'\\');
  if (stripped.IsEmpty()) {
    m_keyPath.Empty();
    return true;
  }
  m_lastResult = create ? reg::RegCreateKey(m_rootKey, stripped, Access(reg::KEY_READ))
                        : reg::RegOpenKey(m_rootKey, stripped, Access(reg::KEY_READ));
  if (m_lastResult != 0) return false;
  m_keyPath = stripped;
  if (!m_flushLazily)
    static_cast<void>(reg::RegFlushKey(m_rootKey, m_keyPath, Access(reg::KEY_READ)));
  return true;
}

bool CRegistry::ReadFixed(const KaString& name, void* out, uint32_t size) {
  uint32_t read = size;
  m_lastResult = reg::RegQueryValue(m_rootKey, m_keyPath, name, Access(reg::KEY_READ), nullptr,
                                    static_cast<uint8_t*>(out), &read);
  return m_lastResult == 0;
}

bool CRegistry::ReadBool(const KaString& name, bool defaultValue) {
  uint8_t value = 0;
  return ReadFixed(name, &value, sizeof(value)) ? value != 0 : defaultValue;
}

int CRegistry::ReadInt(const KaString& name, int defaultValue) {
  int32_t value = 0;
  return ReadFixed(name, &value, sizeof(value)) ? value : defaultValue;
}

uint32_t CRegistry::ReadDWord(const KaString& name, uint32_t defaultValue) {
  uint32_t value = 0;
  return ReadFixed(name, &value, sizeof(value)) ? value : defaultValue;
}

int64_t CRegistry::ReadQWord(const KaString& name, int64_t defaultValue) {
  int64_t value = 0;
  return ReadFixed(name, &value, sizeof(value)) ? value : defaultValue;
}

KaString CRegistry::ReadString(const KaString& name, const KaString& defaultValue) {
  uint32_t type = reg::REG_NONE;
  uint32_t size = 0;
  const uint32_t access = Access(reg::KEY_READ);
  m_lastResult = reg::RegQueryValue(m_rootKey, m_keyPath, name, access, &type, nullptr, &size);
  if (m_lastResult != 0) return defaultValue;
  if (type != reg::REG_SZ && type != reg::REG_EXPAND_SZ) return defaultValue;
  // Twice the size, zeroed, so that data without a terminator still ends.
  std::vector<char16_t> buffer(size + 1, 0);
  uint32_t read = size * 2;
  m_lastResult = reg::RegQueryValue(m_rootKey, m_keyPath, name, access, &type,
                                    reinterpret_cast<uint8_t*>(buffer.data()), &read);
  if (m_lastResult != 0) return defaultValue;
  return KaString(buffer.data());
}

bool CRegistry::WriteValue(const KaString& name, uint32_t type, const void* data, uint32_t size) {
  const uint32_t access = Access(reg::KEY_WRITE);
  uint32_t code = reg::RegOpenKey(m_rootKey, m_keyPath, access);
  if (code == 0) {
    code = reg::RegSetValue(m_rootKey, m_keyPath, name, access, type,
                            static_cast<const uint8_t*>(data), size);
  }
  if (code == 0 && !m_flushLazily) code = reg::RegFlushKey(m_rootKey, m_keyPath, access);
  // The reason of a failed write, for a caller that tells the user.
  if (code != 0) KaOSAL::SetLastError(code);
  return code == 0;
}

bool CRegistry::WriteDWord(const KaString& name, uint32_t value) {
  return WriteValue(name, reg::REG_DWORD, &value, sizeof(value));
}

bool CRegistry::WriteQWord(const KaString& name, int64_t value) {
  return WriteValue(name, reg::REG_BINARY, &value, sizeof(value));
}

bool CRegistry::WriteString(const KaString& name, const KaString& value) {
  const auto size = static_cast<uint32_t>((value.GetLength() + 1) * sizeof(char16_t));
  return WriteValue(name, reg::REG_SZ, value.c_str(), size);
}

bool CRegistry::ValueExists(const KaString& name) {
  return reg::RegQueryValue(m_rootKey, m_keyPath, name, Access(reg::KEY_READ), nullptr, nullptr,
                            nullptr) == 0;
}

bool CRegistry::DeleteValue(const KaString& name) {
  const uint32_t access = Access(reg::KEY_WRITE);
  if (reg::RegDeleteValue(m_rootKey, m_keyPath, name, access) != 0) return false;
  if (!m_flushLazily) static_cast<void>(reg::RegFlushKey(m_rootKey, m_keyPath, access));
  return true;
}

}  // namespace wardex
