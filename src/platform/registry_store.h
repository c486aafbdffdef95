// The registry store: the Windows registry functions that the agent relies on,
// kept in one SQLite database per hive.
//
// Hives: HKEY_LOCAL_MACHINE in $WARDEX_ROOT/var/lib/wardex/registry/machine.db,
// HKEY_USERS in $WARDEX_ROOT/var/lib/wardex/registry/users.db, and
// HKEY_CURRENT_USER in $XDG_DATA_HOME/wardex/registry/user.db. HKEY_CLASSES_ROOT
// is the merged view of HKCU\Software\Classes over HKLM\Software\Classes.
//
// Key paths are "\"-separated and case-insensitive; value names too. The keys
// below HKLM\SOFTWARE (and so HKEY_CLASSES_ROOT) exist once per registry view:
// KEY_WOW64_32KEY and KEY_WOW64_64KEY select the view, no flag selects the
// native view, which is the 32-bit view (the agent is a 32-bit program).
// Everything else is shared by both views, as on Windows.
//
// Every write is one committed transaction with synchronous=EXTRA in a
// rollback journal, so a write that returned success survives a crash or a
// power loss and several processes may read and write at once. A hive that
// cannot be written (the machine hive for an ordinary user) fails writes with
// 5 (access denied); reads still see what is there. Waits for another
// process's lock are bounded.
//
// All functions return a Win32 error code: 0 success, 2 key or value not
// found, 5 access denied, 87 invalid parameter, 234 buffer too small, or one
// of the hive failures below, which never read as "not found".
#pragma once

#include <cstdint>
#include <vector>

#include "osal/ka_string.h"

namespace wardex::platform {

// The predefined root keys, with their Windows handle values.
enum HKEY : uint32_t {
  HKEY_CLASSES_ROOT = 0x80000000u,
  HKEY_CURRENT_USER = 0x80000001u,
  HKEY_LOCAL_MACHINE = 0x80000002u,
  HKEY_USERS = 0x80000003u,
  HKEY_PERFORMANCE_DATA = 0x80000004u,
  HKEY_CURRENT_CONFIG = 0x80000005u,
};

// Access bits. Only the view bits change what the store does; the others are
// accepted so that callers can pass their Windows masks unchanged.
inline constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr uint32_t KEY_WOW64_64KEY = 0x0100;
inline constexpr uint32_t KEY_WOW64_32KEY = 0x0200;
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;

// How long a reader or writer waits for another process's lock on a hive
// before it fails with kErrorHiveBusy.
inline constexpr int kHiveWaitMs = 5000;

// A hive that cannot be used. Each is logged once per process with the
// hive's file and the SQLite error.
inline constexpr uint32_t kErrorHiveBusy = 170;      // another process held its lock too long
inline constexpr uint32_t kErrorHiveFull = 112;      // the disk is full
inline constexpr uint32_t kErrorHiveCorrupt = 1009;  // the file is damaged or not a hive
// Unreadable: an I/O failure, or a write that was interrupted and that only a
// user who may write the hive can roll back.
inline constexpr uint32_t kErrorHiveIo = 1016;

// Value types.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_QWORD = 11;

// One value as listed by RegEnumValues.
struct RegValueEntry {
  KaOSAL::KaString name;
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
};

// Creates the key |path| below |root| with all missing parents, or opens it
// when it exists (which needs no write access).
[[nodiscard]] uint32_t RegCreateKey(HKEY root, const KaOSAL::KaString& path, uint32_t access);

// Succeeds when the key exists; an empty path is the root key itself.
[[nodiscard]] uint32_t RegOpenKey(HKEY root, const KaOSAL::KaString& path, uint32_t access);

// Reads the value |name| (empty: the key's default value) with the Windows
// buffer rules: with |data| null only |*size| (bytes) is set; with a buffer of
// |*size| bytes that is too small, |*size| is set to the size needed and 234
// is returned. |type| and |size| may be null when not wanted.
[[nodiscard]] uint32_t RegQueryValue(HKEY root, const KaOSAL::KaString& path,
                                     const KaOSAL::KaString& name, uint32_t access, uint32_t* type,
                                     uint8_t* data, uint32_t* size);

// Sets the value |name| of the existing key |path|; |size| bytes of |data|.
[[nodiscard]] uint32_t RegSetValue(HKEY root, const KaOSAL::KaString& path,
                                   const KaOSAL::KaString& name, uint32_t access, uint32_t type,
                                   const uint8_t* data, uint32_t size);

[[nodiscard]] uint32_t RegDeleteValue(HKEY root, const KaOSAL::KaString& path,
                                      const KaOSAL::KaString& name, uint32_t access);

// Deletes a key that has no sub-keys (5 when it has some), with its values.
// The roots, HKLM\SOFTWARE (the root of the two views) and the classes keys
// that HKEY_CLASSES_ROOT maps to are never deleted (5), nor by RegDeleteTree.
[[nodiscard]] uint32_t RegDeleteKey(HKEY root, const KaOSAL::KaString& path, uint32_t access);

// Deletes a key with all its sub-keys and values.
[[nodiscard]] uint32_t RegDeleteTree(HKEY root, const KaOSAL::KaString& path, uint32_t access);

// Every write is committed durably already; this checks that the key exists.
[[nodiscard]] uint32_t RegFlushKey(HKEY root, const KaOSAL::KaString& path, uint32_t access);

// The names of the direct sub-keys, sorted without regard to case.
[[nodiscard]] uint32_t RegEnumKeys(HKEY root, const KaOSAL::KaString& path, uint32_t access,
                                   std::vector<KaOSAL::KaString>* names);

// The values of the key, sorted by name without regard to case.
[[nodiscard]] uint32_t RegEnumValues(HKEY root, const KaOSAL::KaString& path, uint32_t access,
                                     std::vector<RegValueEntry>* values);

}  // namespace wardex::platform
