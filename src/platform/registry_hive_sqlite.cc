#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <set>
#include <utility>

#include "osal/wide_format.h"
#include "platform/registry_hive_internal.h"
#include "platform/system_paths_linux.h"
#include "wardex/crashlog.h"

namespace wardex::platform::registry {

namespace {

using KaOSAL::KaString;

// Long enough for any one transaction, short enough for the user-interface
// thread when another writer is stopped.
constexpr std::chrono::milliseconds kHiveWait{kHiveWaitMs};

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " view INTEGER NOT NULL, path TEXT NOT NULL, parent TEXT NOT NULL, name TEXT NOT NULL,"
    " PRIMARY KEY(view, path)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(view, parent);"
    "CREATE TABLE IF NOT EXISTS vals("
    " view INTEGER NOT NULL, key TEXT NOT NULL, fold TEXT NOT NULL, name TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL,"
    " PRIMARY KEY(view, key, fold)) WITHOUT ROWID;";

uint32_t ErrorFromSqlite(int result) {
  // A hot journal that this connection may not roll back: the hive cannot be
  // read until a user who may write it opens it.
  if (result == SQLITE_READONLY_ROLLBACK || result == SQLITE_READONLY_RECOVERY ||
      result == SQLITE_READONLY_CANTLOCK) {
    return kErrorHiveIo;
  }
  switch (result & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return KaOSAL::kErrorSuccess;
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return KaOSAL::kErrorAccessDenied;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kErrorHiveBusy;
    case SQLITE_FULL:
      return kErrorHiveFull;
    case SQLITE_NOMEM:
      return KaOSAL::kErrorNotEnoughMemory;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return kErrorHiveCorrupt;
    default:
      return kErrorHiveIo;
  }
}

void ReportHiveFailure(const std::string& file, int result) {
  static std::mutex reported_mutex;
  static std::set<std::pair<std::string, int>> reported;
  {
    std::lock_guard<std::mutex> lock(reported_mutex);
    if (!reported.emplace(file, result).second) return;
  }
  LogW(kLogError, u"Registry hive %s failed: SQLite error %d (%s)", KaOSAL::FromUtf8(file).c_str(),
       result, KaOSAL::FromUtf8(sqlite3_errstr(result)).c_str());
}

// Creates |folder| and its parents with |mode|. False with errno set.
bool MakeFolders(const std::string& folder, mode_t mode) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), mode) == 0) {
      chmod(part.c_str(), mode);  // whatever the umask: other users read a shared hive
    } else if (errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) return true;
  }
}

// Opens the hive file; with |for_write| creates it (and its folder) first:
// readable by every user for a |shared| hive (the machine's, which ordinary
// users read), private to its user otherwise. SQLite gives the journal the
// database file's mode. Returns the database or null with |*error| set.
std::unique_ptr<HiveDb> OpenHiveFile(const std::string& file, bool for_write, bool shared,
                                     uint32_t* error) {
  const bool existed = access(file.c_str(), F_OK) == 0;
  if (!for_write && !existed) {
    *error = KaOSAL::kErrorFileNotFound;
    return nullptr;
  }
  if (for_write && !MakeFolders(file.substr(0, file.rfind('/')), shared ? 0755 : 0700)) {
    *error = KaOSAL::Win32ErrorFromErrno(errno);
    return nullptr;
  }
  sqlite3* raw = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (for_write ? SQLITE_OPEN_CREATE : 0);
  int result = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
  if (result != SQLITE_OK) {
    sqlite3_close(raw);
    *error = HiveFailure(file, result);
    return nullptr;
  }
  sqlite3_extended_result_codes(raw, 1);  // tells an unreadable hot journal from access denied
  auto hive = std::make_unique<HiveDb>(raw, file, sqlite3_db_readonly(raw, "main") == 0);
  sqlite3_busy_timeout(raw, static_cast<int>(kHiveWait.count()));
  // EXTRA: FULL does not sync the folder after the journal is deleted, so a
  // power loss could bring the journal back and roll a reported write back.
  sqlite3_exec(raw, "PRAGMA synchronous=EXTRA", nullptr, nullptr, nullptr);
  if (hive->writable()) {
    // Rollback journal, never WAL: a reader without write access to the
    // folder could not open a WAL database.
    result = sqlite3_exec(raw, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    if (result == SQLITE_OK) result = sqlite3_exec(raw, kSchema, nullptr, nullptr, nullptr);
    if (result != SQLITE_OK && for_write) {
      *error = HiveFailure(file, result);
      return nullptr;
    }
    if (!existed) chmod(file.c_str(), shared ? 0644 : 0600);
  }
  return hive;
}

// The open hives of this process, by file. Never destroyed, so that a
// thread still writing while the process exits finds its hive intact.
std::mutex g_hives_mutex;
std::map<std::string, std::shared_ptr<HiveDb>>* g_hives = nullptr;
pid_t g_hives_owner = 0;

}  // namespace

uint32_t HiveFailure(const std::string& file, int result) {
  uint32_t error = ErrorFromSqlite(result);
  if (error != KaOSAL::kErrorSuccess && error != KaOSAL::kErrorAccessDenied) {
    ReportHiveFailure(file, result);
  }
  return error;
}

std::string HiveFile(HKEY hive) {
  auto text = [](const KaString& path) {
    return KaOSAL::ToUtf8(path.c_str(), static_cast<size_t>(path.GetLength()));
  };
  switch (hive) {
    case HKEY_LOCAL_MACHINE:
      return text(GetMachinePath(u"var/lib/wardex/registry")) + "/machine.db";
    case HKEY_USERS:
      return text(GetMachinePath(u"var/lib/wardex/registry")) + "/users.db";
    case HKEY_CURRENT_USER:
      return text(GetUserDataFolder()) + "/wardex/registry/user.db";
    default:
      return {};
  }
}

// A forked child never uses its parent's connections: they are dropped
// unclosed (SQLite connections must not cross a fork).
std::shared_ptr<HiveDb> GetHive(const std::string& file, bool for_write, bool shared,
                                uint32_t* error) {
  std::lock_guard<std::mutex> lock(g_hives_mutex);
  if (g_hives == nullptr || g_hives_owner != getpid()) {
    g_hives = new std::map<std::string, std::shared_ptr<HiveDb>>();
    g_hives_owner = getpid();
  }
  std::shared_ptr<HiveDb>& slot = (*g_hives)[file];
  if (slot && (!for_write || slot->writable())) return slot;
  std::unique_ptr<HiveDb> opened = OpenHiveFile(file, for_write, shared, error);
  if (!opened) return nullptr;
  if (for_write && !opened->writable()) {
    *error = KaOSAL::kErrorAccessDenied;
    return nullptr;
  }
  slot = std::move(opened);
  return slot;
}

HiveDb::~HiveDb() {
  for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
  sqlite3_close(db_);
}

ScopedStatement HiveDb::Statement(const char* sql, uint32_t* error) {
  sqlite3_stmt*& statement = statements_[sql];
  if (statement == nullptr) {
    int result = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (result != SQLITE_OK) {
      statement = nullptr;
      // Plain SQLITE_ERROR is "no such table": an empty file that a writer
      // created and has not filled yet.
      *error = result == SQLITE_ERROR ? KaOSAL::kErrorFileNotFound : Check(result);
    }
  } else {
    sqlite3_clear_bindings(statement);
  }
  return ScopedStatement(statement);
}

}  // namespace wardex::platform::registry
