#include "identity/computer_id.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <grp.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "osal/wide_format.h"
#include "platform/product_version.h"
#include "platform/registry_store.h"
#include "platform/system_paths.h"
#include "support/test_env.h"

namespace wardex {
namespace {

using KaOSAL::KaString;
using platform::NetworkAdapter;

constexpr char16_t kUserClassesKey[] =
    u"SOFTWARE\\Classes\\CLSID\\{11E7B631-8B1D-48e5-81B8-C2C15F39711A}";
constexpr char16_t kClassesRootKey[] = u"CLSID\\{11E7B631-8B1D-48e5-81B8-C2C15F39711A}";
constexpr uint32_t kView = platform::KEY_WOW64_32KEY;

std::string Utf8(const KaString& text) { return KaOSAL::ToUtf8(text.c_str()); }

// The three places of the base identifier, as the machine holds them.
enum Store { kMachineClasses = 1, kIdFile = 2, kUserClasses = 4 };

// Each test starts on a machine without a base identifier, its places
// emptied: a Wine prefix is one machine for every test of a run.
class ComputerIdTest : public testing::Test {
 protected:
  void SetUp() override { Delete(kMachineClasses | kIdFile | kUserClasses); }

  // In the common application data folder (Linux: below the test root).
  static std::string IdFolder() { return Utf8(platform::GetCommonAppDataFolder()) + "/Corvane"; }
  static std::string IdFile() { return IdFolder() + "/ComputerID.dat"; }
#if !defined(_WIN32)
  // The machine-wide folder as the package makes it: every user may create
  // folders in it.
  static void MakeCommonFolder(const test::ScopedTestRoot& root) {
    const std::string common = root.root() + "/var/lib/wardex/common";
    std::filesystem::create_directories(common);
    chmod(common.c_str(), 01777);
  }
#endif

  // The value "ID" of the key below |root|, or empty (also when it takes
  // more than |length| characters).
  static std::string ReadId(platform::HKEY root, const char16_t* path, size_t length = 127) {
    std::u16string buffer(length + 1, u'\0');
    uint32_t size = static_cast<uint32_t>(length * sizeof(char16_t));
    if (platform::RegQueryValue(root, path, u"ID", platform::KEY_READ | kView, nullptr,
                                reinterpret_cast<uint8_t*>(buffer.data()), &size) != 0) {
      return {};
    }
    return Utf8(KaString(buffer.c_str()));
  }

  // Deletes the |stores| (the keys, since the classes root writes to the
  // user's key where there is one) and forgets the process's copy.
  static void Delete(int stores) {
    if (stores & kMachineClasses) {
      (void)platform::RegDeleteKey(platform::HKEY_LOCAL_MACHINE, kUserClassesKey, kView);
    }
    if (stores & kUserClasses) {
      (void)platform::RegDeleteKey(platform::HKEY_CURRENT_USER, kUserClassesKey, kView);
    }
    if (stores & kIdFile) std::filesystem::remove(IdFile());
    computer_id_internal::ForgetForTesting();
  }

  test::ScopedTestRoot root_;
};

TEST_F(ComputerIdTest, AFirstRunMakesTheBaseAndStoresItInAllThreePlaces) {
#if !defined(_WIN32)
  // Every user reads the shared file, whatever the umask of its writer.
  const mode_t saved_umask = umask(077);
#endif
  const std::string base = Utf8(GetBaseComputerID());
#if !defined(_WIN32)
  umask(saved_umask);
#endif
  ASSERT_EQ(base.size(), 32u);
  EXPECT_EQ(base.find_first_not_of("0123456789abcdef"), std::string::npos) << base;
  EXPECT_EQ((std::vector{ReadId(platform::HKEY_CLASSES_ROOT, kClassesRootKey),
                         ReadId(platform::HKEY_CURRENT_USER, kUserClassesKey),
                         ReadId(platform::HKEY_LOCAL_MACHINE, kUserClassesKey)}),
            std::vector<std::string>(3, base));
  EXPECT_EQ(test::ReadFile(IdFile()), "[ID]\nCID=" + base + "\n");
#if !defined(_WIN32)  // Windows: the access the common folder's ACL passes on
  EXPECT_EQ(std::filesystem::status(IdFolder()).permissions(), std::filesystem::perms(0755));
  EXPECT_EQ(std::filesystem::status(IdFile()).permissions(), std::filesystem::perms(0644));
#endif
}

// Any one place restores the others; with all three gone a new base is made.
TEST_F(ComputerIdTest, TheBaseSurvivesTheLossOfAnyTwoPlaces) {
  const int kLost[] = {kMachineClasses | kIdFile, kMachineClasses | kUserClasses,
                       kIdFile | kUserClasses, kMachineClasses | kIdFile | kUserClasses};
  for (int lost : kLost) {
    SCOPED_TRACE(lost);
    // Each case from a first run, which puts the base in all three places.
    Delete(kMachineClasses | kIdFile | kUserClasses);
    const KaString base = GetBaseComputerID();
    const KaString id = GetComputerID();
    Delete(lost);
    const bool kept = lost != (kMachineClasses | kIdFile | kUserClasses);
    EXPECT_EQ(GetBaseComputerID() == base, kept);
    EXPECT_EQ(GetComputerID() == id, kept);
    EXPECT_EQ(ReadId(platform::HKEY_CLASSES_ROOT, kClassesRootKey), Utf8(GetBaseComputerID()));
  }
}

TEST_F(ComputerIdTest, ALongIdentifierInTheFileIsReadWhole) {
  // Longer than the first read buffer of 255 characters and its first doubling.
  const std::string long_id(600, 'a');
  ASSERT_TRUE(test::WriteFile(IdFile(), "[ID]\nCID=" + long_id + "\n"));
  EXPECT_EQ(Utf8(GetBaseComputerID()), long_id);
  EXPECT_EQ(ReadId(platform::HKEY_CLASSES_ROOT, kClassesRootKey, 700), long_id)
      << "written back to the classes root";
}

TEST_F(ComputerIdTest, TheComputerIdIsTheDigestOfBaseAndProductName) {
  const KaString base = GetBaseComputerID();
  EXPECT_EQ(GetComputerID(),
            computer_id_internal::ComputerIDFor(base, platform::kProductName, u""));

  const std::tuple<const char16_t*, const char16_t*, const char16_t*, const char*> kCases[] = {
      {u"abc", u"Wardex", u"/opt/wardex/wardex", "8229f84f66fdc6ef9fb09cc68e5024cb"},
      {u"abc", u"Other", u"/opt/wardex/wardex", "49ee4822f5636f946736380d7dfc5245"},
      {u"abc", u"", u"/x/y/prog", "4533491da11281fca71eae240fa1ba7e"},
      {u"abc", u"", u"C:\\x\\y\\prog", "4533491da11281fca71eae240fa1ba7e"},
      {u"abc\u00e9", u"", u"", "c8477b3d058dc0dfcb88357f852536a0"},  // UTF-8 bytes
  };
  for (const auto& [base, product, executable, digest] : kCases) {
    EXPECT_EQ(Utf8(computer_id_internal::ComputerIDFor(base, product, executable)), digest);
  }
}

TEST_F(ComputerIdTest, ThreadsAskingAtOnceGetOneIdentifier) {
  std::vector<KaString> seen(8);
  std::vector<std::thread> threads;
  for (KaString& slot : seen) threads.emplace_back([&slot] { slot = GetComputerID(); });
  for (std::thread& thread : threads) thread.join();
  for (const KaString& id : seen) EXPECT_EQ(id, seen[0]);
  EXPECT_EQ(seen[0].GetLength(), 32);
}

#if !defined(_WIN32)
// Other users' locks and files, and OpenSSL's configuration: Linux's own.
// Windows runs no second account here, and its digest is the system's.

TEST_F(ComputerIdTest, AnotherUsersLockOnTheSharedFolderHoldsNothingUp) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to start a child as another user";
  MakeCommonFolder(root_);
  std::filesystem::create_directories(IdFolder());
  chmod(IdFolder().c_str(), 0755);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    alarm(120);  // gone with the test at the latest
    const uid_t nobody = test::kNobodyUid;
    const int fd = setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0
                       ? open(IdFolder().c_str(), O_RDONLY | O_DIRECTORY)
                       : -1;
    const char byte = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
    (void)!write(ready[1], &byte, 1);
    pause();
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');

  // A wait without bound ends this program rather than hang the test.
  alarm(60);
  const auto start = std::chrono::steady_clock::now();
  const std::string base = Utf8(GetBaseComputerID());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  alarm(0);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(base.size(), 32u);
  EXPECT_GE(elapsed, std::chrono::seconds(2)) << "the lock is tried for about 2 s";
  EXPECT_EQ(ReadId(platform::HKEY_CURRENT_USER, kUserClassesKey), base) << "the other places";
  EXPECT_FALSE(std::filesystem::exists(IdFile()));
}

TEST_F(ComputerIdTest, UsersTakeOnlyASmallRegularFileOfRootOrTheirOwnAndKeepIt) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to plant files as other users";
  constexpr uid_t kPlanter = test::kNobodyUid;
  constexpr uid_t kUser = test::kNobodyUid - 1;
  const std::string planted(32, 'c');
  const std::string content = "[ID]\nCID=" + planted + "\n";
  enum Kind { kFile, kLink, kFifo, kLarge };
  const std::tuple<const char*, Kind, uid_t, bool> kCases[] = {
      // taken or not
      {"root's file", kFile, 0, true},
      {"the user's own file", kFile, kUser, true},
      {"another user's file", kFile, kPlanter, false},
      {"a link to root's file", kLink, 0, false},
      {"another user's FIFO", kFifo, kPlanter, false},
      {"a 1 MiB file of root's", kLarge, 0, false},
  };
  for (const auto& [what, kind, owner, taken] : kCases) {
    SCOPED_TRACE(what);
    test::ScopedTestRoot machine;
    MakeCommonFolder(machine);
    ASSERT_TRUE(std::filesystem::create_directory(IdFolder()));  // as the package makes it
    const std::string file = IdFile();
    const std::string written = kind == kLink ? file + ".real" : file;
    ASSERT_TRUE(kind == kFifo ? mkfifo(file.c_str(), 0666) == 0
                              : test::WriteFile(written, content));
    if (kind == kLink) {
      ASSERT_EQ(symlink(written.c_str(), file.c_str()), 0);
    }
    if (kind == kLarge) {
      ASSERT_EQ(truncate(file.c_str(), 1 << 20), 0);
    }
    ASSERT_EQ(lchown(file.c_str(), owner, owner), 0);
    ASSERT_EQ(chown(machine.data_home().c_str(), kUser, kUser), 0);  // the user's own
    // The child's verdict: 1 for a base that is not 32 characters, 2 where
    // it is not kept in the user's own classes key (the place that user can
    // write, so that the file is not needed at the next start), else 0 for
    // a new base and 3 for the planted one.
    const int verdict = test::RunAsUser(kUser, [&] {
      alarm(20);  // a read that waits on the planter ends the child
      const std::string base = Utf8(GetBaseComputerID());
      if (base.size() != 32) return 1;
      if (ReadId(platform::HKEY_CURRENT_USER, kUserClassesKey) != base) return 2;
      return base == planted ? 3 : 0;
    });
    EXPECT_EQ(verdict, taken ? 3 : 0);
  }
}

// MD5 where the process's OpenSSL configuration offers none (a FIPS or
// base-only one) needs a process started with that configuration: this
// program runs a copy of itself with only the case below.
constexpr char kChildOutput[] = "WARDEX_IDENTITY_CHILD_OUTPUT";

TEST(ComputerIdChild, ReportsTheIdentifiers) {
  const char* output = std::getenv(kChildOutput);
  if (output == nullptr) GTEST_SKIP() << "runs only as the child of the configuration test";
  EVP_MD* configured_md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  EXPECT_TRUE(test::WriteFile(output, (configured_md5 != nullptr ? "1 " : "0 ") +
                                          Utf8(GetBaseComputerID()) + " " + Utf8(GetComputerID())));
  EVP_MD_free(configured_md5);
}

TEST_F(ComputerIdTest, MD5IsFoundWhereTheConfigurationOffersOnlyTheBaseProvider) {
  const std::string config = root_.path() + "/openssl.cnf";
  ASSERT_TRUE(test::WriteFile(config,
                              "openssl_conf = init\n[init]\nproviders = providers\n"
                              "[providers]\nbase = base\n[base]\nactivate = 1\n"));
  const std::string output = root_.path() + "/child.txt";
  setenv("OPENSSL_CONF", config.c_str(), 1);
  setenv(kChildOutput, output.c_str(), 1);
  // The child's own test report stays out of this test's output.
  const int status = std::system((std::filesystem::read_symlink("/proc/self/exe").string() +
                                  " --gtest_filter=ComputerIdChild.* >/dev/null")
                                     .c_str());
  unsetenv("OPENSSL_CONF");
  unsetenv(kChildOutput);
  ASSERT_EQ(status, 0);
  // "0": the configuration took MD5 away; the identifiers are this process's.
  const std::string base = Utf8(GetBaseComputerID());
  EXPECT_EQ(test::ReadFile(output), "0 " + base + " " + Utf8(GetComputerID()));
  EXPECT_EQ(test::ReadFile(IdFile()), "[ID]\nCID=" + base + "\n");
}

#endif  // !_WIN32

TEST(ComputerIdNetworkPartTest, TakesTheFirstSuitableEthernetAdapter) {
  auto adapter = [](bool ethernet, std::vector<uint8_t> address, std::string gateway) {
    return NetworkAdapter{"", ethernet, std::move(address), std::move(gateway)};
  };
  const NetworkAdapter good = adapter(true, {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, "10.0.0.1");
  const std::tuple<const char*, std::vector<NetworkAdapter>, const char*> kCases[] = {
      {"no adapters", {}, "SOMEWHERE"},
      {"one good", {good}, "0A:1B:2C:3D:4E:5F"},
      {"not Ethernet",
       {adapter(false, {1, 2, 3, 4, 5, 60}, "10.0.0.1"), good},
       "0A:1B:2C:3D:4E:5F"},
      {"no gateway", {adapter(true, {1, 2, 3, 4, 5, 60}, ""), good}, "0A:1B:2C:3D:4E:5F"},
      {"all zero", {adapter(true, {0, 0, 0, 0, 0, 0}, "10.0.0.1"), good}, "0A:1B:2C:3D:4E:5F"},
      {"sum of 32", {adapter(true, {0, 0, 0, 0, 0, 32}, "10.0.0.1"), good}, "0A:1B:2C:3D:4E:5F"},
      {"sum of 33", {adapter(true, {0, 0, 0, 0, 1, 32}, "10.0.0.1"), good}, "00:00:00:00:01:20"},
      {"short address", {adapter(true, {0xff, 0xff}, "10.0.0.1")}, "SOMEWHERE"},
      {"only unsuitable", {adapter(true, {0, 0, 0, 0, 0, 0}, "10.0.0.1")}, "SOMEWHERE"},
  };
  for (const auto& [what, adapters, part] : kCases) {
    EXPECT_EQ(Utf8(computer_id_internal::NetworkPart(adapters)), part) << what;
  }
}

}  // namespace
}  // namespace wardex
