#include "platform/registry_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/scoped_fd.h"
#include "platform/system_paths.h"
#include "wardex/crashlog.h"

namespace wardex::platform {
namespace {

using KaOSAL::KaString;

// Long enough for any one transaction, short enough for the user-interface
// thread when another writer is stopped.
constexpr std::chrono::milliseconds kHiveWait{kHiveWaitMs};

// Views as stored: keys outside the redirected part exist once, in kShared.
enum View : int { kShared = 0, kView32 = 32, kView64 = 64 };

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

// Logs a hive's failure once per process for each error, so that a damaged
// hive read at every start is in the log without filling it.
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

// The Win32 code of a failed SQLite call on |file|'s hive; failures that are
// not the caller's (busy, damaged, unreadable, full) are logged once.
uint32_t HiveFailure(const std::string& file, int result) {
  uint32_t error = ErrorFromSqlite(result);
  if (error != KaOSAL::kErrorSuccess && error != KaOSAL::kErrorAccessDenied) {
    ReportHiveFailure(file, result);
  }
  return error;
}

// A key path split into its folded components (upper case, for comparisons)
// and its components as written.
struct KeyPath {
  std::vector<std::string> folded;
  std::vector<std::string> written;

  std::string FoldedText(size_t count) const {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
      if (i > 0) text += '\\';
      text += folded[i];
    }
    return text;
  }
  std::string Folded() const { return FoldedText(folded.size()); }
  std::string Parent() const { return FoldedText(folded.empty() ? 0 : folded.size() - 1); }
};

std::string FoldName(const KaString& name) {
  KaString folded(name);
  folded.MakeUpper();
  return KaOSAL::ToUtf8(folded.c_str(), static_cast<size_t>(folded.GetLength()));
}

// Splits |path|; leading and trailing backslashes are ignored, an empty
// component in the middle is invalid.
bool SplitKeyPath(const KaString& path, KeyPath* out) {
  std::u16string text(path.c_str(), static_cast<size_t>(path.GetLength()));
  size_t first = text.find_first_not_of(u'\\');
  if (first == std::u16string::npos) return true;
  text = text.substr(first, text.find_last_not_of(u'\\') - first + 1);
  size_t start = 0;
  for (;;) {
    size_t end = text.find(u'\\', start);
    std::u16string part = text.substr(start, end == std::u16string::npos ? end : end - start);
    if (part.empty()) return false;
    KaString component(part.c_str(), static_cast<int>(part.size()));
    out->written.push_back(KaOSAL::ToUtf8(part));
    out->folded.push_back(FoldName(component));
    if (end == std::u16string::npos) return true;
    start = end + 1;
  }
}

// Returns the view a key of |depth| components below |top| (its first
// component, folded) is kept in. Only HKLM\SOFTWARE's sub-keys are redirected.
View ViewOf(HKEY hive, const std::string& top, size_t depth, uint32_t access) {
  if (hive != HKEY_LOCAL_MACHINE || depth < 2 || top != "SOFTWARE") return kShared;
  return (access & KEY_WOW64_64KEY) != 0 && (access & KEY_WOW64_32KEY) == 0 ? kView64 : kView32;
}

View ViewOfKey(HKEY hive, const KeyPath& key, size_t depth, uint32_t access) {
  return ViewOf(hive, key.folded.empty() ? std::string() : key.folded[0], depth, access);
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

// A cached statement in use; reset when it goes out of scope, so that no
// statement keeps a read transaction (and its shared lock) open afterwards.
class ScopedStatement {
 public:
  explicit ScopedStatement(sqlite3_stmt* statement) : statement_(statement) {}
  ~ScopedStatement() {
    if (statement_ != nullptr) sqlite3_reset(statement_);
  }
  ScopedStatement(const ScopedStatement&) = delete;
  ScopedStatement& operator=(const ScopedStatement&) = delete;
  operator sqlite3_stmt*() const { return statement_; }  // NOLINT: used as the statement

 private:
  sqlite3_stmt* statement_;
};

// One open hive database. Its mutex serialises this process's use of the
// connection (a transaction must not mix statements of two threads); SQLite's
// file locks serialise processes.
class HiveDb {
 public:
  HiveDb(sqlite3* db, std::string file, bool writable)
      : db_(db), file_(std::move(file)), writable_(writable) {}
  ~HiveDb() {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  HiveDb(const HiveDb&) = delete;
  HiveDb& operator=(const HiveDb&) = delete;

  bool writable() const { return writable_; }
  sqlite3* db() const { return db_; }
  std::mutex& mutex() { return mutex_; }

  // The Win32 code of SQLite's |result| on this hive (0 for a row or done).
  uint32_t Check(int result) const {
    return result == SQLITE_ROW || result == SQLITE_DONE ? KaOSAL::kErrorSuccess
                                                         : HiveFailure(file_, result);
  }

  // The prepared statement for |sql| (a string literal), unbound; null when
  // it cannot be prepared, with |*error| set: 2 for a hive file without
  // tables yet, a hive failure otherwise.
  ScopedStatement Statement(const char* sql, uint32_t* error) {
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

 private:
  sqlite3* db_;
  std::string file_;
  bool writable_;
  std::mutex mutex_;
  std::map<const char*, sqlite3_stmt*> statements_;
};

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

// Returns the open hive for |file|, opened for writing when |for_write|, or
// null with |*error| set. A read-only connection is replaced when a write
// needs the hive; users still holding the old one finish with it first.
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

// A wait for the writer lock, shared by the caller and the thread that waits.
struct PendingWriterLock {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool abandoned = false;
  int error = 0;  // errno of a failed flock
};

// Takes the hive's writer lock: an exclusive flock of the ".lock" file beside
// it, on a descriptor of its own, so that the threads of one process queue
// like other processes. Writers queue on it in the kernel because SQLite's
// busy handler polls, and a steady writer could starve another past any
// time-out. The kernel's wait has no time-out of its own, so a contended wait
// runs on a thread that the caller gives up on after kHiveWait; that thread
// then closes the file (releasing the lock) whenever the lock comes.
// Returns the descriptor holding the lock, or -1 with |*error| set.
int TakeWriterLock(const std::string& file, bool shared, uint32_t* error) {
  ScopedFd fd(open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, shared ? 0644 : 0600));
  if (fd.get() < 0) {
    *error = KaOSAL::Win32ErrorFromErrno(errno);
    return -1;
  }
  if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return fd.release();
  auto pending = std::make_shared<PendingWriterLock>();
  const int lock_fd = fd.release();
  try {
    std::thread([pending, lock_fd] {
      int result = 0;
      while ((result = flock(lock_fd, LOCK_EX)) != 0 && errno == EINTR) {
      }
      std::lock_guard<std::mutex> lock(pending->mutex);
      pending->finished = true;
      pending->error = result == 0 ? 0 : errno;
      if (pending->abandoned) {
        close(lock_fd);
      } else {
        pending->done.notify_one();
      }
    }).detach();
  } catch (const std::system_error&) {
    close(lock_fd);
    *error = KaOSAL::kErrorNotEnoughMemory;
    return -1;
  }
  std::unique_lock<std::mutex> lock(pending->mutex);
  if (!pending->done.wait_for(lock, kHiveWait, [&] { return pending->finished; })) {
    pending->abandoned = true;
    *error = HiveFailure(file, SQLITE_BUSY);
    return -1;
  }
  if (pending->error != 0) {
    close(lock_fd);
    *error = KaOSAL::Win32ErrorFromErrno(pending->error);
    return -1;
  }
  return lock_fd;
}

// Runs |body| inside one write transaction, committed durably.
template <typename Body>
uint32_t InTransaction(HiveDb* hive, Body body) {
  int result = sqlite3_exec(hive->db(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (result != SQLITE_OK) return hive->Check(result);
  uint32_t error = body();
  if (error == KaOSAL::kErrorSuccess) {
    result = sqlite3_exec(hive->db(), "COMMIT", nullptr, nullptr, nullptr);
    if (result == SQLITE_OK) return KaOSAL::kErrorSuccess;
    error = hive->Check(result);
  }
  sqlite3_exec(hive->db(), "ROLLBACK", nullptr, nullptr, nullptr);
  return error;
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

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
        view_(ViewOfKey(hive, key, key.folded.size(), access)),
        child_view_(ViewOfKey(hive, key, key.folded.size() + 1, access)),
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
    ScopedFd writer_lock(TakeWriterLock(file_, shared(), &error));
    if (writer_lock.get() < 0) return error;
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
        sqlite3_bind_int(statement, 1, ViewOfKey(hive_, key_, depth, access_));
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
    if (IsPermanent()) return KaOSAL::kErrorAccessDenied;
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

  // The keys a delete must leave: the hive's root; HKLM\SOFTWARE, whose
  // sub-keys are split between the two views, so that deleting it in one
  // view would orphan the other's; and Software\Classes, which
  // HKEY_CLASSES_ROOT stands for.
  bool IsPermanent() const {
    const std::vector<std::string>& names = key_.folded;
    if (names.empty()) return true;
    if (names[0] != "SOFTWARE" || names.size() > 2) return false;
    return names.size() == 2 ? names[1] == "CLASSES" : hive_ == HKEY_LOCAL_MACHINE;
  }

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

}  // namespace

namespace {

constexpr char16_t kClassesPrefix[] = u"Software\\Classes";

KeyPath ClassesKey(const KeyPath& key) {
  KeyPath classes;
  SplitKeyPath(KaString(kClassesPrefix), &classes);
  classes.folded.insert(classes.folded.end(), key.folded.begin(), key.folded.end());
  classes.written.insert(classes.written.end(), key.written.begin(), key.written.end());
  return classes;
}

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
