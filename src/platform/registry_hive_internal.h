// The registry store's hive databases on SQLite: one file per hive, its
// tables, the open connections of this process and their prepared
// statements, and SQLite's results as Win32 codes. Internal to src/platform:
// it includes SQLite's header, so only the registry store's files include it.
#pragma once

#include <sqlite3.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "osal/last_error.h"
#include "platform/registry_store.h"

namespace wardex::platform::registry {

// The file of |hive| (HKLM, HKU or HKCU), empty for any other root.
[[nodiscard]] std::string HiveFile(HKEY hive);

// The Win32 code of a failed SQLite call on |file|'s hive; failures that are
// not the caller's (busy, damaged, unreadable, full) are logged once per
// process for each error, so that a damaged hive read at every start is in
// the log without filling it.
uint32_t HiveFailure(const std::string& file, int result);

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
  ~HiveDb();
  HiveDb(const HiveDb&) = delete;
  HiveDb& operator=(const HiveDb&) = delete;

  [[nodiscard]] bool writable() const { return writable_; }
  [[nodiscard]] sqlite3* db() const { return db_; }
  [[nodiscard]] std::mutex& mutex() { return mutex_; }

  // The Win32 code of SQLite's |result| on this hive (0 for a row or done).
  [[nodiscard]] uint32_t Check(int result) const {
    return result == SQLITE_ROW || result == SQLITE_DONE ? KaOSAL::kErrorSuccess
                                                         : HiveFailure(file_, result);
  }

  // The prepared statement for |sql| (a string literal), unbound; null when
  // it cannot be prepared, with |*error| set: 2 for a hive file without
  // tables yet, a hive failure otherwise.
  ScopedStatement Statement(const char* sql, uint32_t* error);

 private:
  sqlite3* db_;
  std::string file_;
  bool writable_;
  std::mutex mutex_;
  std::map<const char*, sqlite3_stmt*> statements_;
};

// Returns the open hive for |file|, opened for writing when |for_write|, or
// null with |*error| set. A new file is readable by every user for a
// |shared| hive (the machine's, which ordinary users read), private to its
// user otherwise. A read-only connection is replaced when a write needs the
// hive; users still holding the old one finish with it first.
[[nodiscard]] std::shared_ptr<HiveDb> GetHive(const std::string& file, bool for_write, bool shared,
                                              uint32_t* error);

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

inline void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace wardex::platform::registry
