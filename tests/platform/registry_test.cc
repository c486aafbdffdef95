// The registry store: typed values, the two views, the merged classes root,
// deleting and listing keys; on Linux also its SQLite hives, shared by
// threads and processes, durable and guarded by the files' permissions.
#include "platform/registry_store.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "osal/wide_format.h"
#include "support/test_env.h"

#if !defined(_WIN32)
#include "crashlog/log_test_util.h"
#endif

namespace wardex::platform {
namespace {

using KaOSAL::KaString;

KaString Text(const std::string& text) { return KaString(text.c_str(), KaOSAL::KA_CP_UTF8); }

uint32_t SetDWord(HKEY root, const KaString& path, const KaString& name, uint32_t value,
                  uint32_t access = KEY_WRITE) {
  return RegSetValue(root, path, name, access, REG_DWORD, reinterpret_cast<uint8_t*>(&value),
                     sizeof(value));
}

// The DWORD value, or -1 when it cannot be read.
int64_t GetDWord(HKEY root, const KaString& path, const KaString& name,
                 uint32_t access = KEY_READ) {
  uint32_t value = 0, size = sizeof(value), type = 0;
  if (RegQueryValue(root, path, name, access, &type, reinterpret_cast<uint8_t*>(&value), &size) !=
      0) {
    return -1;
  }
  return value;
}

// On Linux each test has hives of its own in its own root. On Windows every
// test of the prefix shares the system's registry: a test's keys have names
// of its own, which it removes again.
class RegistryTest : public ::testing::Test {
 protected:
#if defined(_WIN32)
  void TearDown() override {
    (void)RegDeleteTree(HKEY_LOCAL_MACHINE, Text(top_), KEY_WRITE | KEY_WOW64_32KEY);
    (void)RegDeleteTree(HKEY_LOCAL_MACHINE, Text(top_), KEY_WRITE | KEY_WOW64_64KEY);
    (void)RegDeleteTree(HKEY_CURRENT_USER, Text(top_), KEY_WRITE);
    (void)RegDeleteTree(HKEY_LOCAL_MACHINE, Text("Software\\Classes\\" + extension_), KEY_WRITE);
    (void)RegDeleteTree(HKEY_CURRENT_USER, Text("Software\\Classes\\" + extension_), KEY_WRITE);
  }
  const std::string unique_ = std::to_string(std::random_device()());
#else
  std::string MachineHive() const { return root_.root() + "/var/lib/wardex/registry/machine.db"; }
  test::ScopedTestRoot root_;
  const std::string unique_;
#endif
  const std::string top_ = "SOFTWARE\\WardexTest" + unique_;
  const KaString product_key_ = Text(top_ + "\\Brisko");
  const std::string extension_ = ".wardextest" + unique_;
};

TEST_F(RegistryTest, TypedValuesRoundTripWithTheWindowsBufferRules) {
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, product_key_, KEY_WRITE), 0u);
  const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(RegSetValue(HKEY_LOCAL_MACHINE, product_key_, u"LAST_NEWSFEED_CHECK", KEY_WRITE,
                        REG_BINARY, bytes, sizeof(bytes)),
            0u);
  // Size only, by any spelling of the names; too small (234 and the size
  // needed); exact.
  const std::tuple<KaString, const char16_t*, uint32_t, uint32_t> reads[] = {
      {Text("software\\wardextest" + unique_ + "\\brisko"), u"last_newsfeed_check", 0, 0},
      {product_key_, u"LAST_NEWSFEED_CHECK", 4, 234},
      {product_key_, u"LAST_NEWSFEED_CHECK", 8, 0}};
  for (const auto& [path, name, capacity, code] : reads) {
    uint8_t read[8] = {};
    uint32_t type = 0, size = capacity;
    EXPECT_EQ(RegQueryValue(HKEY_LOCAL_MACHINE, path, name, KEY_READ, &type,
                            capacity == 0 ? nullptr : read, &size),
              code);
    EXPECT_EQ(std::make_tuple(type, size, std::memcmp(read, bytes, 8) == 0),
              std::make_tuple(REG_BINARY, 8u, capacity == 8));
  }
  // Missing value, missing key, invalid path.
  EXPECT_EQ(RegQueryValue(HKEY_LOCAL_MACHINE, product_key_, u"absent", KEY_READ, nullptr, nullptr,
                          nullptr),
            2u);
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, Text(top_ + "\\Other"), KEY_READ), 2u);
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, Text(top_ + "\\\\Brisko"), KEY_READ), 87u);
  EXPECT_EQ(SetDWord(HKEY_LOCAL_MACHINE, Text(top_ + "\\Other"), u"v", 1), 2u);
  // Flushed to the disk, and only an existing key.
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE, product_key_, KEY_WRITE), 0u);
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE, Text(top_ + "\\Other"), KEY_WRITE), 2u);
#if !defined(_WIN32)
  EXPECT_EQ(RegOpenKey(HKEY_CURRENT_CONFIG, u"x", KEY_READ), 6u);  // a root the store has not
#endif
}

TEST_F(RegistryTest, TheViewsAreSeparateBelowSoftwareAndTheNativeOneIs32Bit) {
  auto start_count = [&](uint32_t view) {
    return GetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount", KEY_READ | view);
  };
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, product_key_, KEY_WRITE), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount", 7), 0u);
  EXPECT_EQ(start_count(KEY_WOW64_32KEY), 7);
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, product_key_, KEY_READ | KEY_WOW64_64KEY), 2u);
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, product_key_, KEY_WRITE | KEY_WOW64_64KEY), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount", 64,
                     KEY_WRITE | KEY_WOW64_64KEY),
            0u);
  EXPECT_EQ(start_count(0), 7);
  EXPECT_EQ(start_count(KEY_WOW64_64KEY), 64);
#if defined(_WIN32)
  // The 32-bit view is where the system keeps it for 32-bit programs.
  EXPECT_EQ(
      GetDWord(HKEY_LOCAL_MACHINE, Text("SOFTWARE\\Wow6432Node\\WardexTest" + unique_ + "\\Brisko"),
               u"Tray_StartCount", KEY_READ | KEY_WOW64_64KEY),
      7);
#else
  // HKLM\SOFTWARE itself is shared.
  std::vector<KaString> names;
  ASSERT_EQ(RegEnumKeys(HKEY_LOCAL_MACHINE, u"", KEY_READ | KEY_WOW64_64KEY, &names), 0u);
  EXPECT_EQ(names, std::vector<KaString>{u"SOFTWARE"});
#endif
  // The user's software keys are shared.
  ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, Text(top_), KEY_WRITE | KEY_WOW64_64KEY), 0u);
  ASSERT_EQ(SetDWord(HKEY_CURRENT_USER, Text(top_), u"v", 3), 0u);
  EXPECT_EQ(GetDWord(HKEY_CURRENT_USER, Text(top_), u"v", KEY_READ | KEY_WOW64_64KEY), 3);
}

TEST_F(RegistryTest, ClassesRootMergesTheUserOverTheMachine) {
  const KaString own = Text("Software\\Classes\\" + extension_);  // of the machine and the user
  const KaString classes = Text(extension_);
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, own, KEY_WRITE), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, own, u"a", 1), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, own, u"b", 1), 0u);
  EXPECT_EQ(GetDWord(HKEY_CLASSES_ROOT, Text(".WARDEXTEST" + unique_), u"a"), 1);
  if (test::RunningUnderWine()) {
    GTEST_SKIP() << "Wine's HKEY_CLASSES_ROOT is HKLM\\Software\\Classes alone: the user's "
                    "classes are not merged over it";
  }
  // Written through HKCR: the machine's key while the user has none.
  ASSERT_EQ(SetDWord(HKEY_CLASSES_ROOT, classes, u"a", 2), 0u);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, own, u"a"), 2);
  ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, own, KEY_WRITE), 0u);
  ASSERT_EQ(SetDWord(HKEY_CLASSES_ROOT, classes, u"a", 3), 0u);
  EXPECT_EQ(GetDWord(HKEY_CURRENT_USER, own, u"a"), 3);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, own, u"a"), 2);
  EXPECT_EQ(GetDWord(HKEY_CLASSES_ROOT, classes, u"a"), 3);
  EXPECT_EQ(GetDWord(HKEY_CLASSES_ROOT, classes, u"b"), 1);
}

TEST_F(RegistryTest, DeletingKeysAndValuesAndListingThemInOrder) {
  ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, Text(top_ + "\\A\\B\\C"), KEY_WRITE), 0u);
  ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, Text(top_ + "\\ab"), KEY_WRITE), 0u);
  ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, Text(top_ + "\\Aa"), KEY_WRITE), 0u);
  for (const char16_t* name : {u"b", u"C", u"a"}) {
    ASSERT_EQ(SetDWord(HKEY_CURRENT_USER, Text(top_), name, 1), 0u);
  }
  std::vector<KaString> keys;
  ASSERT_EQ(RegEnumKeys(HKEY_CURRENT_USER, Text(top_), KEY_READ, &keys), 0u);
  EXPECT_EQ(keys, (std::vector<KaString>{u"A", u"Aa", u"ab"}));
  std::vector<RegValueEntry> values;
  ASSERT_EQ(RegEnumValues(HKEY_CURRENT_USER, Text(top_), KEY_READ, &values), 0u);
  std::vector<std::tuple<KaString, uint32_t, std::vector<uint8_t>>> listed;
  for (const RegValueEntry& value : values) listed.emplace_back(value.name, value.type, value.data);
  const std::vector<uint8_t> one = {1, 0, 0, 0};
  EXPECT_EQ(listed, (decltype(listed){
                        {u"a", REG_DWORD, one}, {u"b", REG_DWORD, one}, {u"C", REG_DWORD, one}}));

  ASSERT_EQ(SetDWord(HKEY_CURRENT_USER, Text(top_ + "\\A\\B"), u"v", 1), 0u);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, Text(top_ + "\\A\\B"), KEY_WRITE), 5u);
  EXPECT_EQ(RegDeleteValue(HKEY_CURRENT_USER, Text(top_ + "\\A\\B"), u"V", KEY_WRITE), 0u);
  EXPECT_EQ(RegDeleteValue(HKEY_CURRENT_USER, Text(top_ + "\\A\\B"), u"V", KEY_WRITE), 2u);
  ASSERT_EQ(SetDWord(HKEY_CURRENT_USER, Text(top_ + "\\A\\B\\C"), u"v", 1), 0u);
  EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, Text(top_ + "\\a"), KEY_WRITE), 0u);
  EXPECT_EQ(RegOpenKey(HKEY_CURRENT_USER, Text(top_ + "\\A"), KEY_READ), 2u);
  // A sibling whose name starts the same survives.
  EXPECT_EQ(RegOpenKey(HKEY_CURRENT_USER, Text(top_ + "\\Aa"), KEY_READ), 0u);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, Text(top_ + "\\AB"), KEY_WRITE), 0u);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, Text(top_ + "\\AB"), KEY_WRITE), 2u);
#if !defined(_WIN32)
  // The machine's root holds no values.
  EXPECT_EQ(SetDWord(HKEY_LOCAL_MACHINE, u"", u"v", 1), 5u);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, u"", u"v"), -1);
#endif
}

TEST_F(RegistryTest, RootKeysAndTheirMappedKeysAreNeverDeleted) {
  [[maybe_unused]] const uint32_t k32 = KEY_WRITE | KEY_WOW64_32KEY;
  const uint32_t k64 = KEY_WRITE | KEY_WOW64_64KEY;
  const std::tuple<HKEY, const char16_t*, uint32_t> cases[] = {
    {HKEY_CLASSES_ROOT, u"", KEY_WRITE},
    {HKEY_CLASSES_ROOT, u"\\", KEY_WRITE},
    {HKEY_CURRENT_USER, u"", KEY_WRITE},
    {HKEY_LOCAL_MACHINE, u"software\\", k64},
    {HKEY_CURRENT_USER, u"SOFTWARE\\CLASSES", KEY_WRITE},
#if !defined(_WIN32)
    {HKEY_LOCAL_MACHINE, u"", KEY_WRITE},
    {HKEY_LOCAL_MACHINE, u"SOFTWARE", k32},
    {HKEY_LOCAL_MACHINE, u"Software\\Classes", k32},
#endif
  };
#if !defined(_WIN32)
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID", KEY_WRITE), 0u);
  ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, Text("Software\\Classes\\" + extension_), KEY_WRITE),
            0u);
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, product_key_, k32), 0u);
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, product_key_, k64), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, product_key_, u"v", 32, k32), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, product_key_, u"v", 64, k64), 0u);
#endif
  for (const auto& [root, path, access] : cases) {
    EXPECT_EQ(RegDeleteTree(root, path, access), 5u) << KaOSAL::ToUtf8(path);
    EXPECT_EQ(RegDeleteKey(root, path, access), 5u) << KaOSAL::ToUtf8(path);
  }
#if defined(_WIN32)
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft", KEY_READ), 0u);
#else
  EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, u"CLSID", KEY_READ), 0u);
  EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, Text(extension_), KEY_READ), 0u);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, product_key_, u"v", KEY_READ | KEY_WOW64_32KEY), 32);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, product_key_, u"v", KEY_READ | KEY_WOW64_64KEY), 64);
  // Below them, a view's key goes whole and the other view's stays.
  EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, Text(top_), k64), 0u);
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, Text(top_), KEY_READ | KEY_WOW64_64KEY), 2u);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, product_key_, u"v", KEY_READ | KEY_WOW64_32KEY), 32);
#endif
}

#if !defined(_WIN32)
// On Windows the hives are the system's; on Linux they are the store's own
// SQLite files, shared by threads and processes.

KaString Name(const std::string& prefix, int index) { return Text(prefix + std::to_string(index)); }

// A child that runs |take| (false: it failed) and then holds what it took
// until it is killed. Returns its pid once it holds it, or -1.
pid_t ForkHolding(const std::function<bool()>& take) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    if (!take() || write(ready[1], "x", 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char byte = 0;
  const bool holding = pid > 0 && read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  if (pid > 0 && !holding) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return holding ? pid : -1;
}

// Two processes of two threads each write at once: every value arrives.
TEST_F(RegistryTest, ThreadsAndProcessesWritingAtOnceLoseNothing) {
  const int kValues = test::Scaled(100, 25);
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, product_key_, KEY_WRITE), 0u);
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] != 0) continue;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
      threads.emplace_back([&, t] {
        const std::string prefix = "w" + std::to_string(w) + "t" + std::to_string(t) + "_";
        for (int i = 0; i < kValues; ++i) {
          failures += SetDWord(HKEY_LOCAL_MACHINE, product_key_, Name(prefix, i), i) != 0 ||
                      GetDWord(HKEY_LOCAL_MACHINE, product_key_, Name(prefix, i)) != i;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    _exit(failures == 0 ? 0 : 1);
  }
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::vector<RegValueEntry> values;
  ASSERT_EQ(RegEnumValues(HKEY_LOCAL_MACHINE, product_key_, KEY_READ, &values), 0u);
  EXPECT_EQ(values.size(), 4u * kValues);
}

TEST_F(RegistryTest, AWriterKilledMidRunLeavesEveryCommittedValue) {
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, product_key_, KEY_WRITE), 0u);
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    close(report[0]);
    // Reports each value once it is written, until it is killed.
    for (int i = 0;; ++i) {
      if (SetDWord(HKEY_LOCAL_MACHINE, product_key_, Name("k", i), i) != 0 ||
          write(report[1], &i, sizeof(i)) != sizeof(i)) {
        _exit(1);
      }
    }
  }
  close(report[1]);
  int last = -1, index = 0;
  const int kKillAfter = test::Scaled(100, 30);
  while (last < kKillAfter && read(report[0], &index, sizeof(index)) == sizeof(index)) last = index;
  kill(writer, SIGKILL);
  // Values the writer reported after the kill signal was sent are committed too.
  while (read(report[0], &index, sizeof(index)) == sizeof(index)) last = index;
  close(report[0]);
  int status = 0;
  ASSERT_EQ(waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(WIFSIGNALED(status));
  for (int i = 0; i <= last; ++i) {
    ASSERT_EQ(GetDWord(HKEY_LOCAL_MACHINE, product_key_, Name("k", i)), i) << i;
  }
  EXPECT_EQ(SetDWord(HKEY_LOCAL_MACHINE, product_key_, u"after", 1), 0u);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, product_key_, u"after"), 1);
}

TEST_F(RegistryTest, AWriterHoldingTheHiveMakesOtherWritersFailInBoundedTime) {
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, product_key_, KEY_WRITE), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount", 1), 0u);
  // Held the way a writer holds it: the store's writer lock and an open write transaction.
  const pid_t holder = ForkHolding([&] {
    const int lock = open((MachineHive() + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
    sqlite3* db = nullptr;
    return lock >= 0 && flock(lock, LOCK_EX) == 0 &&
           sqlite3_open(MachineHive().c_str(), &db) == SQLITE_OK &&
           sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  });
  ASSERT_GT(holder, 0);
  const auto start = std::chrono::steady_clock::now();
  const uint32_t error = SetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount", 2);
  const auto waited = std::chrono::steady_clock::now() - start;
  // Readers are not held up by a writer that has not committed yet.
  const int64_t read = GetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount");
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(error, kErrorHiveBusy);
  EXPECT_GE(waited, std::chrono::milliseconds(kHiveWaitMs));
  EXPECT_LT(waited, std::chrono::milliseconds(kHiveWaitMs) + std::chrono::seconds(60));
  EXPECT_EQ(read, 1);
  EXPECT_EQ(SetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount", 3), 0u);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount"), 3);
}

// The unix VFS with its deletes recorded: SQLite deletes the rollback journal
// to commit, and only a folder synced after that makes the commit durable.
struct JournalDeletes {
  static int Delete(sqlite3_vfs*, const char* name, int sync_folder) {
    const std::string file = name;
    if (file.size() > 8 && file.compare(file.size() - 8, 8, "-journal") == 0) {
      ++(sync_folder != 0 ? synced : unsynced);
    }
    return unix_vfs->xDelete(unix_vfs, name, sync_folder);
  }
  static inline sqlite3_vfs* unix_vfs = nullptr;
  static inline std::atomic<int> synced{0};
  static inline std::atomic<int> unsynced{0};
};

TEST_F(RegistryTest, ACommitSyncsTheFolderAfterDeletingTheJournal) {
  JournalDeletes::unix_vfs = sqlite3_vfs_find(nullptr);
  ASSERT_NE(JournalDeletes::unix_vfs, nullptr);
  static sqlite3_vfs recording = *JournalDeletes::unix_vfs;
  recording.zName = "wardex-test-recording";
  recording.xDelete = &JournalDeletes::Delete;
  // The default while this test's fresh hive is opened and written.
  ASSERT_EQ(sqlite3_vfs_register(&recording, 1), SQLITE_OK);
  const uint32_t created = RegCreateKey(HKEY_CURRENT_USER, u"Software\\Corvane", KEY_WRITE);
  const uint32_t set = SetDWord(HKEY_CURRENT_USER, u"Software\\Corvane", u"v", 1);
  sqlite3_vfs_unregister(&recording);
  EXPECT_EQ(created, 0u);
  EXPECT_EQ(set, 0u);
  EXPECT_GE(JournalDeletes::synced.load(), 2);
  EXPECT_EQ(JournalDeletes::unsynced.load(), 0);
}

// An unprivileged user reads the machine hive but cannot write it; and once
// a root writer was killed mid-transaction, never reads a missing value.
TEST_F(RegistryTest, AnUnprivilegedUserReadsTheMachineHiveButNeverWritesOrMissesAValue) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  const std::string log = root_.path() + "/wardex.log";
  ASSERT_TRUE(test::WriteFile(log, ""));
  chmod(log.c_str(), 0666);
  root_.Set("WARDEX_LOG_FILE", log);
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, product_key_, KEY_WRITE), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount", 41), 0u);
  int status = test::RunAsUnprivileged([&] {
    if (GetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount") != 41) return 10;
    if (RegOpenKey(HKEY_LOCAL_MACHINE, product_key_, KEY_READ) != 0) return 11;
    if (RegCreateKey(HKEY_LOCAL_MACHINE, product_key_, KEY_WRITE) != 0) return 12;
    if (SetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount", 42) != 5) return 13;
    if (RegCreateKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\New", KEY_WRITE) != 5) return 14;
    if (RegDeleteValue(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount", KEY_WRITE) != 5) {
      return 15;
    }
    return GetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount") == 41 ? 0 : 16;
  });
  EXPECT_EQ(status, 0);
  // A root writer whose transaction outgrew SQLite's page cache, so that it
  // wrote into the hive before it was killed: the journal is hot.
  struct stat before {};
  ASSERT_EQ(stat(MachineHive().c_str(), &before), 0);
  const pid_t writer = ForkHolding([&] {
    sqlite3* db = nullptr;
    return sqlite3_open(MachineHive().c_str(), &db) == SQLITE_OK &&
           sqlite3_exec(db,
                        "PRAGMA cache_size=10; BEGIN IMMEDIATE;"
                        "UPDATE vals SET data=x'2A000000';"
                        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<2000)"
                        " INSERT INTO vals SELECT 32, 'X', i, i, 3, zeroblob(1000) FROM n;",
                        nullptr, nullptr, nullptr) == SQLITE_OK;
  });
  ASSERT_GT(writer, 0);
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);
  struct stat after {};
  ASSERT_EQ(stat(MachineHive().c_str(), &after), 0);
  ASSERT_GT(after.st_size, before.st_size);  // the spill reached the hive
  ASSERT_TRUE(std::filesystem::exists(MachineHive() + "-journal"));

  status = test::RunAsUnprivileged([&] {
    uint32_t value = 0, size = sizeof(value);
    if (RegQueryValue(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount", KEY_READ, nullptr,
                      reinterpret_cast<uint8_t*>(&value), &size) != kErrorHiveIo) {
      return 10;
    }
    if (RegOpenKey(HKEY_LOCAL_MACHINE, product_key_, KEY_READ) != kErrorHiveIo) return 11;
    std::vector<RegValueEntry> values;
    return RegEnumValues(HKEY_LOCAL_MACHINE, product_key_, KEY_READ, &values) == kErrorHiveIo ? 0
                                                                                              : 12;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test::LoggedAt(log, 3),
            std::vector<std::string>{"Registry hive " + MachineHive() +
                                     " failed: SQLite error 776 (attempt to write a readonly "
                                     "database)"});
  // A reader who may write the hive rolls the journal back: the value as it was.
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, product_key_, u"Tray_StartCount"), 41);
  EXPECT_FALSE(std::filesystem::exists(MachineHive() + "-journal"));
}

#endif

}  // namespace
}  // namespace wardex::platform
