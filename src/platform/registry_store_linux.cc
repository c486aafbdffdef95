#include "platform/registry_store.h"

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/registry_hive_internal.h"
#include "platform/registry_key_path.h"
#include "platform/registry_writer_lock_internal.h"
#include "platform/scoped_fd_posix.h"

namespace wardex::platform {
namespace registry {
namespace {

using KaOSAL::KaString;

// 0 when the key exists, 2 when not, or the hive's failure.
uint32_t FindKey(HiveDb* hive, int view, const std::string& path) {
  if (path.empty()) return KaOSAL::kErrorSuccess;
  uint32_t error = KaOSAL::kErrorSuccess;
  ScopedStatement statement =
      hive->Statement("SELECT 1 FROM keys WHERE view=?1 AND path=?2", &error);
  if (statement == nullptr) return error;
  sqlite3_bind_int(statement, 1, view);
  BindText(statement, 2, path);
  int result = sqlite3_step(statement);
  return result == SQLITE_DONE ? KaOSAL::kErrorFileNotFound : hive->Check(result);
}

// The operations on one real hive (not HKEY_CLASSES_ROOT).
class HiveOperation {
 public:
  HiveOperation(HKEY hive, const KeyPath& key, uint32_t access)
      : hive_(hive),
        key_(key),
        access_(access),
        view_(ViewOf(hive, key, key.folded.size(), access)),
        child_view_(ViewOf(hive, key, key.folded.size() + 1, access)),
        file_(HiveFile(hive)) {}

  // Runs |body| on the hive; 2 when the hive does not exist yet.
  uint32_t Read(const std::function<uint32_t(HiveDb*)>& body) const {
    uint32_t error = KaOSAL::kErrorFileNotFound;
    std::shared_ptr<HiveDb> hive = GetHive(file_, false, shared(), &error);
    if (!hive) return error;
    std::lock_guard<std::mutex> lock(hive->mutex());
    return body(hive.get());
  }

  // Runs |body| in one write transaction. The writer lock comes first, so
  // that a thread waiting for it does not hold up this process's readers.
  uint32_t Write(const std::function<uint32_t(HiveDb*)>& body) const {
    uint32_t error = KaOSAL::kErrorAccessDenied;
    std::shared_ptr<HiveDb> hive = GetHive(file_, true, shared(), &error);
    if (!hive) return error;
    const ScopedFd writer_lock = TakeWriterLock(file_, shared(), &error);
    // The busy hive is logged as SQLite's own time-out would be.
    if (writer_lock.get() < 0) {
      return error == kErrorHiveBusy ? HiveFailure(file_, SQLITE_BUSY) : error;
    }
    std::lock_guard<std::mutex> lock(hive->mutex());
    return InTransaction(hive.get(), [&] { return body(hive.get()); });
  }

  uint32_t Exists() const {
    if (key_.folded.empty()) return KaOSAL::kErrorSuccess;
    return Read([&](HiveDb* hive) { return FindKey(hive, view_, key_.Folded()); });
  }

  uint32_t Create() const {
    if (uint32_t error = Exists(); error != KaOSAL::kErrorFileNotFound) return error;
    return Write([&](HiveDb* hive) {
      for (size_t depth = 1; depth <= key_.folded.size(); ++depth) {
        uint32_t error = KaOSAL::kErrorSuccess;
        ScopedStatement statement = hive->Statement(
            "INSERT OR IGNORE INTO keys(view, path, parent, name) VALUES(?1, ?2, ?3, ?4)", &error);
        if (statement == nullptr) return error;
        sqlite3_bind_int(statement, 1, ViewOf(hive_, key_, depth, access_));
        BindText(statement, 2, key_.FoldedText(depth));
        BindText(statement, 3, key_.FoldedText(depth - 1));
        BindText(statement, 4, key_.written[depth - 1]);
        if (error = hive->Check(sqlite3_step(statement)); error != KaOSAL::kErrorSuccess) {
          return error;
        }
      }
      return KaOSAL::kErrorSuccess;
    });
  }

  uint32_t Query(const std::string& folded_name, uint32_t* type, std::vector<uint8_t>* data) const {
    return Read([&](HiveDb* hive) {
      uint32_t error = KaOSAL::kErrorSuccess;
      ScopedStatement statement = hive->Statement(
          "SELECT type, data FROM vals WHERE view=?1 AND key=?2 AND fold=?3", &error);
      if (statement == nullptr) return error;
      sqlite3_bind_int(statement, 1, view_);
      BindText(statement, 2, key_.Folded());
      BindText(statement, 3, folded_name);
      int result = sqlite3_step(statement);
      if (result != SQLITE_ROW) {
        return result == SQLITE_DONE ? KaOSAL::kErrorFileNotFound : hive->Check(result);
      }
      *type = static_cast<uint32_t>(sqlite3_column_int64(statement, 0));
      const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, 1));
      data->assign(bytes, bytes + sqlite3_column_bytes(statement, 1));
      return KaOSAL::kErrorSuccess;
    });
  }

  uint32_t Set(const KaString& name, uint32_t type, const uint8_t* data, uint32_t size) const {
    if (key_.folded.empty() && hive_ != HKEY_CURRENT_USER) return KaOSAL::kErrorAccessDenied;
    return Write([&](HiveDb* hive) {
      uint32_t error = FindKey(hive, view_, key_.Folded());
      if (error != KaOSAL::kErrorSuccess) return error;
      ScopedStatement statement = hive->Statement(
          "INSERT OR REPLACE INTO vals(view, key, fold, name, type, data)"
          " VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
          &error);
      if (statement == nullptr) return error;
      sqlite3_bind_int(statement, 1, view_);
      BindText(statement, 2, key_.Folded());
      BindText(statement, 3, FoldName(name));
      BindText(statement, 4, KaOSAL::ToUtf8(name.c_str(), static_cast<size_t>(name.GetLength())));
      sqlite3_bind_int64(statement, 5, type);
      sqlite3_bind_blob(statement, 6, size > 0 ? data : reinterpret_cast<const uint8_t*>(""),
                        static_cast<int>(size), SQLITE_TRANSIENT);
      return hive->Check(sqlite3_step(statement));
    });
  }

  uint32_t DeleteValue(const std::string& folded_name) const {
    return Write([&](HiveDb* hive) {
      uint32_t error = KaOSAL::kErrorSuccess;
      ScopedStatement statement =
          hive->Statement("DELETE FROM vals WHERE view=?1 AND key=?2 AND fold=?3", &error);
      if (statement == nullptr) return error;
      sqlite3_bind_int(statement, 1, view_);
      BindText(statement, 2, key_.Folded());
      BindText(statement, 3, folded_name);
      if (error = hive->Check(sqlite3_step(statement)); error != KaOSAL::kErrorSuccess) {
        return error;
      }
      return sqlite3_changes(hive->db()) > 0 ? KaOSAL::kErrorSuccess : KaOSAL::kErrorFileNotFound;
    });
  }

  // Deletes the key; with |tree| also its sub-keys, else only when it has none.
  uint32_t DeleteKey(bool tree) const {
    if (IsPermanent(hive_, key_)) return KaOSAL::kErrorAccessDenied;
    if (uint32_t error = Exists(); error != KaOSAL::kErrorSuccess) return error;
    return Write([&](HiveDb* hive) {
      const std::string path = key_.Folded();
      uint32_t error = FindKey(hive, view_, path);
      if (error != KaOSAL::kErrorSuccess) return error;
      if (!tree) {
        error = FindSubKey(hive);
        if (error != KaOSAL::kErrorFileNotFound) {
          return error == KaOSAL::kErrorSuccess ? KaOSAL::kErrorAccessDenied : error;
        }
      }
      // Sub-paths: everything from "PATH\" up to, not including, "PATH]".
      const std::string low = path + "\\", high = path + "]";
      static constexpr const char* kDeletes[] = {
          "DELETE FROM vals WHERE (view=?1 AND key=?3) OR (view IN (?2, 0) AND key>=?4 AND key<?5)",
          "DELETE FROM keys WHERE (view=?1 AND path=?3) OR (view IN (?2, 0) AND path>=?4 AND "
          "path<?5)",
      };
      for (const char* sql : kDeletes) {
        ScopedStatement statement = hive->Statement(sql, &error);
        if (statement == nullptr) return error;
        sqlite3_bind_int(statement, 1, view_);
        sqlite3_bind_int(statement, 2, child_view_);
        BindText(statement, 3, path);
        BindText(statement, 4, low);
        BindText(statement, 5, high);
        if (error = hive->Check(sqlite3_step(statement)); error != KaOSAL::kErrorSuccess) {
          return error;
        }
      }
      return KaOSAL::kErrorSuccess;
    });
  }

  uint32_t EnumKeys(std::vector<KaString>* names) const {
    if (uint32_t error = Exists(); error != KaOSAL::kErrorSuccess) return error;
    return Read([&](HiveDb* hive) {
      uint32_t error = KaOSAL::kErrorSuccess;
      ScopedStatement statement = hive->Statement(
          "SELECT name FROM keys WHERE view=?1 AND parent=?2 ORDER BY path", &error);
      if (statement == nullptr) return error;
      sqlite3_bind_int(statement, 1, child_view_);
      BindText(statement, 2, key_.Folded());
      int result = SQLITE_DONE;
      while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        names->push_back(KaString(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                                  KaOSAL::KA_CP_UTF8));
      }
      return hive->Check(result);
    });
  }

  uint32_t EnumValues(std::vector<RegValueEntry>* values) const {
    if (uint32_t error = Exists(); error != KaOSAL::kErrorSuccess) return error;
    return Read([&](HiveDb* hive) {
      uint32_t error = KaOSAL::kErrorSuccess;
      ScopedStatement statement = hive->Statement(
          "SELECT name, type, data FROM vals WHERE view=?1 AND key=?2 ORDER BY fold", &error);
      if (statement == nullptr) return error;
      sqlite3_bind_int(statement, 1, view_);
      BindText(statement, 2, key_.Folded());
      int result = SQLITE_DONE;
      while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        RegValueEntry entry;
        entry.name = KaString(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                              KaOSAL::KA_CP_UTF8);
        entry.type = static_cast<uint32_t>(sqlite3_column_int64(statement, 1));
        const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, 2));
        entry.data.assign(bytes, bytes + sqlite3_column_bytes(statement, 2));
        values->push_back(std::move(entry));
      }
      return hive->Check(result);
    });
  }

 private:
  bool shared() const { return hive_ != HKEY_CURRENT_USER; }

  // 0 when the key has a sub-key, 2 when not, or the hive's failure.
  uint32_t FindSubKey(HiveDb* hive) const {
    uint32_t error = KaOSAL::kErrorSuccess;
    ScopedStatement statement =
        hive->Statement("SELECT 1 FROM keys WHERE view=?1 AND parent=?2 LIMIT 1", &error);
    if (statement == nullptr) return error;
    sqlite3_bind_int(statement, 1, child_view_);
    BindText(statement, 2, key_.Folded());
    int result = sqlite3_step(statement);
    return result == SQLITE_DONE ? KaOSAL::kErrorFileNotFound : hive->Check(result);
  }

  HKEY hive_;
  const KeyPath& key_;
  uint32_t access_;
  View view_;
  View child_view_;
  std::string file_;
};

// Runs |operation| on the hive that |root| names. For HKEY_CLASSES_ROOT,
// reads look at the user's key and then the machine's; writes go to the
// user's key when it exists and to the machine's otherwise.
template <typename Operation>
uint32_t Dispatch(HKEY root, const KaString& path, uint32_t access, bool is_write,
                  Operation operation) {
  KeyPath key;
  if (!SplitKeyPath(path, &key)) return KaOSAL::kErrorInvalidParameter;
  switch (root) {
    case HKEY_LOCAL_MACHINE:
    case HKEY_CURRENT_USER:
    case HKEY_USERS:
      return operation(HiveOperation(root, key, access));
    case HKEY_CLASSES_ROOT: {
      KeyPath classes = ClassesKey(key);
      HiveOperation user(HKEY_CURRENT_USER, classes, access);
      HiveOperation machine(HKEY_LOCAL_MACHINE, classes, access);
      // A user's hive that cannot be read must not let the machine's key
      // stand in for the user's.
      const uint32_t in_user = user.Exists();
      if (in_user != KaOSAL::kErrorSuccess && in_user != KaOSAL::kErrorFileNotFound) {
        return in_user;
      }
      if (is_write) return operation(in_user == KaOSAL::kErrorSuccess ? user : machine);
      uint32_t error = in_user == KaOSAL::kErrorSuccess ? operation(user) : in_user;
      return error == KaOSAL::kErrorFileNotFound ? operation(machine) : error;
    }
    default:
      return KaOSAL::kErrorInvalidHandle;
  }
}

}  // namespace
}  // namespace registry

using KaOSAL::KaString;
using registry::Dispatch;
using registry::FoldName;
using registry::HiveOperation;

uint32_t RegCreateKey(HKEY root, const KaString& path, uint32_t access) {
  return Dispatch(root, path, access, true, [](const HiveOperation& op) { return op.Create(); });
}

uint32_t RegOpenKey(HKEY root, const KaString& path, uint32_t access) {
  return Dispatch(root, path, access, false, [](const HiveOperation& op) { return op.Exists(); });
}

uint32_t RegQueryValue(HKEY root, const KaString& path, const KaString& name, uint32_t access,
                       uint32_t* type, uint8_t* data, uint32_t* size) {
  if (data != nullptr && size == nullptr) return KaOSAL::kErrorInvalidParameter;
  uint32_t stored_type = REG_NONE;
  std::vector<uint8_t> stored;
  uint32_t error = Dispatch(root, path, access, false, [&](const HiveOperation& op) {
    return op.Query(FoldName(name), &stored_type, &stored);
  });
  if (error != KaOSAL::kErrorSuccess) return error;
  if (type != nullptr) *type = stored_type;
  const auto needed = static_cast<uint32_t>(stored.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return KaOSAL::kErrorMoreData;
  }
  if (data != nullptr && needed > 0) std::memcpy(data, stored.data(), needed);
  if (size != nullptr) *size = needed;
  return KaOSAL::kErrorSuccess;
}

uint32_t RegSetValue(HKEY root, const KaString& path, const KaString& name, uint32_t access,
                     uint32_t type, const uint8_t* data, uint32_t size) {
  if (data == nullptr && size > 0) return KaOSAL::kErrorInvalidParameter;
  return Dispatch(root, path, access, true,
                  [&](const HiveOperation& op) { return op.Set(name, type, data, size); });
}

uint32_t RegDeleteValue(HKEY root, const KaString& path, const KaString& name, uint32_t access) {
  return Dispatch(root, path, access, true,
                  [&](const HiveOperation& op) { return op.DeleteValue(FoldName(name)); });
}

uint32_t RegDeleteKey(HKEY root, const KaString& path, uint32_t access) {
  return Dispatch(root, path, access, true,
                  [](const HiveOperation& op) { return op.DeleteKey(false); });
}

uint32_t RegDeleteTree(HKEY root, const KaString& path, uint32_t access) {
  return Dispatch(root, path, access, true,
                  [](const HiveOperation& op) { return op.DeleteKey(true); });
}

uint32_t RegFlushKey(HKEY root, const KaString& path, uint32_t access) {
  return RegOpenKey(root, path, access);
}

uint32_t RegEnumKeys(HKEY root, const KaString& path, uint32_t access,
                     std::vector<KaString>* names) {
  names->clear();
  return Dispatch(root, path, access, false,
                  [&](const HiveOperation& op) { return op.EnumKeys(names); });
}

uint32_t RegEnumValues(HKEY root, const KaString& path, uint32_t access,
                       std::vector<RegValueEntry>* values) {
  values->clear();
  return Dispatch(root, path, access, false,
                  [&](const HiveOperation& op) { return op.EnumValues(values); });
}

}  // namespace wardex::platform
