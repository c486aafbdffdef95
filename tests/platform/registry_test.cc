#include "platform/registry_store.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace wardex::platform {
namespace {

using KaOSAL::KaString;

constexpr char16_t kProductKey[] = u"SOFTWARE\\Corvane\\Brisko";

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

KaString Name(const std::string& prefix, int index) {
  return KaString((prefix + std::to_string(index)).c_str(), KaOSAL::KA_CP_UTF8);
}

class RegistryTest : public ::testing::Test {
 protected:
  test::ScopedTestRoot root_;
};

TEST_F(RegistryTest, TypedValuesRoundTripWithTheWindowsBufferRules) {
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_WRITE), 0u);
  const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(RegSetValue(HKEY_LOCAL_MACHINE, kProductKey, u"LAST_NEWSFEED_CHECK", KEY_WRITE,
                        REG_BINARY, bytes, sizeof(bytes)),
            0u);
  uint32_t type = 0, size = 0;
  // Size only.
  EXPECT_EQ(RegQueryValue(HKEY_LOCAL_MACHINE, u"software\\CORVANE\\brisko", u"last_newsfeed_check",
                          KEY_READ, &type, nullptr, &size),
            0u);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 8u);
  // Too small: 234 and the size needed.
  uint8_t small[4] = {};
  size = sizeof(small);
  EXPECT_EQ(RegQueryValue(HKEY_LOCAL_MACHINE, kProductKey, u"LAST_NEWSFEED_CHECK", KEY_READ,
                          nullptr, small, &size),
            234u);
  EXPECT_EQ(size, 8u);
  uint8_t exact[8] = {};
  size = sizeof(exact);
  EXPECT_EQ(RegQueryValue(HKEY_LOCAL_MACHINE, kProductKey, u"LAST_NEWSFEED_CHECK", KEY_READ,
                          nullptr, exact, &size),
            0u);
  EXPECT_EQ(std::memcmp(exact, bytes, 8), 0);
  // Missing value, missing key, invalid path, other roots.
  EXPECT_EQ(RegQueryValue(HKEY_LOCAL_MACHINE, kProductKey, u"absent", KEY_READ, nullptr, nullptr,
                          nullptr),
            2u);
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\Other", KEY_READ), 2u);
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\\\Corvane", KEY_READ), 87u);
  EXPECT_EQ(RegOpenKey(HKEY_CURRENT_CONFIG, u"x", KEY_READ), 6u);
  EXPECT_EQ(SetDWord(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\Other", u"v", 1), 2u);
}

TEST_F(RegistryTest, TheViewsAreSeparateBelowSoftwareOnly) {
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_WRITE), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount", 7), 0u);
  EXPECT_EQ(
      GetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount", KEY_READ | KEY_WOW64_32KEY), 7);
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_READ | KEY_WOW64_64KEY), 2u);
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_WRITE | KEY_WOW64_64KEY), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount", 64,
                     KEY_WRITE | KEY_WOW64_64KEY),
            0u);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount"), 7);
  EXPECT_EQ(
      GetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount", KEY_READ | KEY_WOW64_64KEY),
      64);
  // HKLM\SOFTWARE itself and the user's hive are shared.
  std::vector<KaString> names;
  ASSERT_EQ(RegEnumKeys(HKEY_LOCAL_MACHINE, u"", KEY_READ | KEY_WOW64_64KEY, &names), 0u);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], KaString(u"SOFTWARE"));
  ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, u"Software\\Corvane", KEY_WRITE | KEY_WOW64_64KEY), 0u);
  ASSERT_EQ(SetDWord(HKEY_CURRENT_USER, u"Software\\Corvane", u"v", 3), 0u);
  EXPECT_EQ(GetDWord(HKEY_CURRENT_USER, u"Software\\Corvane", u"v", KEY_READ | KEY_WOW64_64KEY), 3);
}

TEST_F(RegistryTest, ClassesRootMergesTheUserOverTheMachine) {
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.brisko", KEY_WRITE), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.brisko", u"a", 1), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.brisko", u"b", 1), 0u);
  EXPECT_EQ(GetDWord(HKEY_CLASSES_ROOT, u".BRISKO", u"a"), 1);
  // Written through HKCR: the machine's key while the user has none.
  ASSERT_EQ(SetDWord(HKEY_CLASSES_ROOT, u".brisko", u"a", 2), 0u);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.brisko", u"a"), 2);
  ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, u"Software\\Classes\\.brisko", KEY_WRITE), 0u);
  ASSERT_EQ(SetDWord(HKEY_CLASSES_ROOT, u".brisko", u"a", 3), 0u);
  EXPECT_EQ(GetDWord(HKEY_CURRENT_USER, u"Software\\Classes\\.brisko", u"a"), 3);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.brisko", u"a"), 2);
  EXPECT_EQ(GetDWord(HKEY_CLASSES_ROOT, u".brisko", u"a"), 3);
  EXPECT_EQ(GetDWord(HKEY_CLASSES_ROOT, u".brisko", u"b"), 1);
}

TEST_F(RegistryTest, DeletingKeysAndValues) {
  ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, u"Software\\A\\B\\C", KEY_WRITE), 0u);
  ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, u"Software\\AB", KEY_WRITE), 0u);
  ASSERT_EQ(SetDWord(HKEY_CURRENT_USER, u"Software\\A\\B", u"v", 1), 0u);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, u"Software\\A\\B", KEY_WRITE), 5u);
  EXPECT_EQ(RegDeleteValue(HKEY_CURRENT_USER, u"Software\\A\\B", u"V", KEY_WRITE), 0u);
  EXPECT_EQ(RegDeleteValue(HKEY_CURRENT_USER, u"Software\\A\\B", u"V", KEY_WRITE), 2u);
  ASSERT_EQ(SetDWord(HKEY_CURRENT_USER, u"Software\\A\\B\\C", u"v", 1), 0u);
  EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, u"software\\a", KEY_WRITE), 0u);
  EXPECT_EQ(RegOpenKey(HKEY_CURRENT_USER, u"Software\\A\\B\\C", KEY_READ), 2u);
  EXPECT_EQ(RegOpenKey(HKEY_CURRENT_USER, u"Software\\A", KEY_READ), 2u);
  // A sibling whose name starts the same survives.
  EXPECT_EQ(RegOpenKey(HKEY_CURRENT_USER, u"Software\\AB", KEY_READ), 0u);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, u"Software\\AB", KEY_WRITE), 0u);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, u"Software\\AB", KEY_WRITE), 2u);
  // The machine's root holds no values.
  EXPECT_EQ(SetDWord(HKEY_LOCAL_MACHINE, u"", u"v", 1), 5u);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, u"", u"v"), -1);
}

TEST_F(RegistryTest, ThreadsOfOneProcessShareTheHive) {
  const int kValues = test::Scaled(50, 10);
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_WRITE), 0u);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string prefix = "t" + std::to_string(t) + "_";
      for (int i = 0; i < kValues; ++i) {
        if (SetDWord(HKEY_LOCAL_MACHINE, kProductKey, Name(prefix, i), static_cast<uint32_t>(i)) !=
                0 ||
            GetDWord(HKEY_LOCAL_MACHINE, kProductKey, Name(prefix, i)) != i) {
          ++failures;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  std::vector<RegValueEntry> values;
  ASSERT_EQ(RegEnumValues(HKEY_LOCAL_MACHINE, kProductKey, KEY_READ, &values), 0u);
  EXPECT_EQ(values.size(), 4u * kValues);
}

// Writes |count| values named prefix<i> = i and exits 0 when all succeeded.
[[noreturn]] void WriteValuesAndExit(const std::string& prefix, int count, int report_fd) {
  for (int i = 0; i < count; ++i) {
    uint32_t error =
        SetDWord(HKEY_LOCAL_MACHINE, kProductKey, Name(prefix, i), static_cast<uint32_t>(i));
    if (error != 0) _exit(static_cast<int>(error & 0x7F) + 1);
    if (report_fd >= 0 && write(report_fd, &i, sizeof(i)) != sizeof(i)) _exit(2);
  }
  _exit(0);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  const int kValues = test::Scaled(1000, 100);
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_WRITE), 0u);
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] == 0) WriteValuesAndExit("w" + std::to_string(w) + "_", kValues, -1);
  }
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::vector<RegValueEntry> values;
  ASSERT_EQ(RegEnumValues(HKEY_LOCAL_MACHINE, kProductKey, KEY_READ, &values), 0u);
  EXPECT_EQ(values.size(), 2u * kValues);
  for (int w = 0; w < 2; ++w) {
    for (int i = 0; i < kValues; i += 97) {
      EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, kProductKey, Name("w" + std::to_string(w) + "_", i)),
                i);
    }
  }
}

TEST_F(RegistryTest, AWriterKilledMidRunLeavesEveryCommittedValue) {
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_WRITE), 0u);
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    close(report[0]);
    WriteValuesAndExit("k", 1000000, report[1]);
  }
  close(report[1]);
  int last = -1, index = 0;
  const int kKillAfter = test::Scaled(300, 50);
  while (last < kKillAfter && read(report[0], &index, sizeof(index)) == sizeof(index)) last = index;
  kill(writer, SIGKILL);
  // Values the writer reported after the kill signal was sent are committed too.
  while (read(report[0], &index, sizeof(index)) == sizeof(index)) last = index;
  close(report[0]);
  int status = 0;
  ASSERT_EQ(waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(WIFSIGNALED(status));
  for (int i = 0; i <= last; ++i) {
    ASSERT_EQ(GetDWord(HKEY_LOCAL_MACHINE, kProductKey, Name("k", i)), i) << i;
  }
  EXPECT_EQ(SetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"after", 1), 0u);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"after"), 1);
}

TEST_F(RegistryTest, AnUnprivilegedUserReadsTheMachineHiveButCannotWriteIt) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_WRITE), 0u);
  ASSERT_EQ(SetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount", 41), 0u);
  int status = test::RunAsUnprivileged([] {
    if (GetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount") != 41) return 10;
    if (RegOpenKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_READ) != 0) return 11;
    if (RegCreateKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_WRITE) != 0) return 12;
    if (SetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount", 42) != 5) return 13;
    if (RegCreateKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\New", KEY_WRITE) != 5) return 14;
    if (RegDeleteValue(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount", KEY_WRITE) != 5) {
      return 15;
    }
    return GetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount") == 41 ? 0 : 16;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(GetDWord(HKEY_LOCAL_MACHINE, kProductKey, u"Tray_StartCount"), 41);
}

}  // namespace
}  // namespace wardex::platform
