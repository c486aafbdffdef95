#include "identity/computer_id.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "osal/wide_format.h"
#include "platform/product_version.h"
#include "platform/registry_store.h"
#include "support/test_env.h"

namespace wardex {
namespace {

using KaOSAL::KaString;
using platform::NetworkAdapter;

constexpr char16_t kUserClassesKey[] =
    u"SOFTWARE\\Classes\\CLSID\\{11E7B631-8B1D-48e5-81B8-C2C15F39711A}";
constexpr char16_t kClassesRootKey[] = u"CLSID\\{11E7B631-8B1D-48e5-81B8-C2C15F39711A}";
constexpr uint32_t kView = platform::KEY_WOW64_32KEY;

std::string Utf8(const KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

// The three places of the base identifier, as the machine holds them.
enum Store { kMachineClasses = 1, kIdFile = 2, kUserClasses = 4 };

class ComputerIdTest : public testing::Test {
 protected:
  void SetUp() override { computer_id_internal::ForgetForTesting(); }
  void TearDown() override { computer_id_internal::ForgetForTesting(); }

  static std::string IdFile(const test::ScopedTestRoot& root) {
    return root.root() + "/var/lib/wardex/common/Corvane/ComputerID.dat";
  }

  // The value "ID" of the key below |root|, or empty.
  static std::string ReadId(platform::HKEY root, const char16_t* path) {
    char16_t buffer[128] = {};
    uint32_t size = sizeof(buffer) - sizeof(char16_t);
    if (platform::RegQueryValue(root, path, u"ID", platform::KEY_READ | kView, nullptr,
                                reinterpret_cast<uint8_t*>(buffer), &size) != 0) {
      return {};
    }
    return Utf8(KaString(buffer));
  }

  // Deletes the |stores| of the machine |root| and forgets the process's copy.
  static void Delete(int stores, const test::ScopedTestRoot& root) {
    if (stores & kMachineClasses) {
      (void)platform::RegDeleteValue(platform::HKEY_LOCAL_MACHINE, kUserClassesKey, u"ID",
                                     platform::KEY_WRITE | kView);
    }
    if (stores & kUserClasses) {
      (void)platform::RegDeleteValue(platform::HKEY_CURRENT_USER, kUserClassesKey, u"ID",
                                     platform::KEY_WRITE | kView);
    }
    if (stores & kIdFile) std::filesystem::remove(IdFile(root));
    computer_id_internal::ForgetForTesting();
  }

  test::ScopedTestRoot root_;
};

TEST_F(ComputerIdTest, AFirstRunMakesTheBaseAndStoresItInAllThreePlaces) {
  const std::string base = Utf8(GetBaseComputerID());
  ASSERT_EQ(base.size(), 32u);
  EXPECT_EQ(base.find_first_not_of("0123456789abcdef"), std::string::npos) << base;
  EXPECT_EQ(ReadId(platform::HKEY_CLASSES_ROOT, kClassesRootKey), base);
  EXPECT_EQ(ReadId(platform::HKEY_CURRENT_USER, kUserClassesKey), base);
  EXPECT_EQ(ReadId(platform::HKEY_LOCAL_MACHINE, kUserClassesKey), base);
  const std::string file = test::ReadFile(IdFile(root_));
  EXPECT_NE(file.find("[ID]"), std::string::npos) << file;
  EXPECT_NE(file.find("CID=" + base), std::string::npos) << file;
}

TEST_F(ComputerIdTest, TheBaseSurvivesTheLossOfAnyTwoPlaces) {
  const int kPairs[] = {kMachineClasses | kIdFile, kMachineClasses | kUserClasses,
                        kIdFile | kUserClasses};
  for (int pair : kPairs) {
    SCOPED_TRACE(pair);
    // Each pair on a machine of its own, where all three places hold the base.
    test::ScopedTestRoot machine;
    computer_id_internal::ForgetForTesting();
    const KaString base = GetBaseComputerID();
    const KaString id = GetComputerID();
    Delete(pair, machine);
    EXPECT_EQ(Utf8(GetBaseComputerID()), Utf8(base));
    EXPECT_EQ(Utf8(GetComputerID()), Utf8(id));
    EXPECT_EQ(ReadId(platform::HKEY_CLASSES_ROOT, kClassesRootKey), Utf8(base));
  }
}

TEST_F(ComputerIdTest, TheClassesRootValueReappearsFromTheFile) {
  const KaString base = GetBaseComputerID();
  Delete(kMachineClasses | kUserClasses, root_);
  ASSERT_EQ(ReadId(platform::HKEY_CLASSES_ROOT, kClassesRootKey), "");
  EXPECT_EQ(GetBaseComputerID(), base);
  EXPECT_EQ(ReadId(platform::HKEY_CLASSES_ROOT, kClassesRootKey), Utf8(base));
}

TEST_F(ComputerIdTest, ALongIdentifierInTheFileIsReadWhole) {
  // Longer than the first read buffer of 255 characters and its first doubling.
  const std::string long_id(600, 'a');
  ASSERT_TRUE(test::WriteFile(IdFile(root_), "[ID]\nCID=" + long_id + "\n"));
  EXPECT_EQ(Utf8(GetBaseComputerID()), long_id);
  EXPECT_EQ(ReadId(platform::HKEY_CLASSES_ROOT, kClassesRootKey), "") << "read buffer too small";
  char16_t buffer[700] = {};
  uint32_t size = sizeof(buffer);
  ASSERT_EQ(platform::RegQueryValue(platform::HKEY_CLASSES_ROOT, kClassesRootKey, u"ID",
                                    platform::KEY_READ | kView, nullptr,
                                    reinterpret_cast<uint8_t*>(buffer), &size),
            0u);
  EXPECT_EQ(Utf8(KaString(buffer)), long_id) << "written back to the classes root";
}

TEST_F(ComputerIdTest, WithAllThreePlacesGoneANewBaseIsMade) {
  const KaString base = GetBaseComputerID();
  const KaString id = GetComputerID();
  Delete(kMachineClasses | kIdFile | kUserClasses, root_);
  const KaString new_base = GetBaseComputerID();
  EXPECT_NE(new_base, base);
  EXPECT_NE(GetComputerID(), id);
  EXPECT_EQ(ReadId(platform::HKEY_CURRENT_USER, kUserClassesKey), Utf8(new_base));
}

TEST_F(ComputerIdTest, TheComputerIdIsTheDigestOfBaseAndProductName) {
  const KaString base = GetBaseComputerID();
  EXPECT_EQ(GetComputerID(),
            computer_id_internal::ComputerIDFor(base, platform::kProductName, u""));

  struct Case {
    const char16_t* base;
    const char16_t* product;
    const char16_t* executable;
    const char* digest;
  };
  const Case kCases[] = {
      {u"abc", u"Wardex", u"/opt/wardex/wardex", "8229f84f66fdc6ef9fb09cc68e5024cb"},
      {u"abc", u"Other", u"/opt/wardex/wardex", "49ee4822f5636f946736380d7dfc5245"},
      {u"abc", u"", u"/x/y/prog", "4533491da11281fca71eae240fa1ba7e"},
      {u"abc\u00e9", u"", u"", "c8477b3d058dc0dfcb88357f852536a0"},  // UTF-8 bytes
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Utf8(computer_id_internal::ComputerIDFor(c.base, c.product, c.executable)), c.digest);
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

TEST(ComputerIdNetworkPartTest, TakesTheFirstSuitableEthernetAdapter) {
  auto adapter = [](bool ethernet, std::vector<uint8_t> address, std::string gateway) {
    NetworkAdapter a;
    a.ethernet = ethernet;
    a.address = std::move(address);
    a.gateway = std::move(gateway);
    return a;
  };
  const NetworkAdapter good = adapter(true, {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, "10.0.0.1");
  struct Case {
    const char* what;
    std::vector<NetworkAdapter> adapters;
    const char* part;
  };
  const Case kCases[] = {
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
  for (const Case& c : kCases) {
    EXPECT_EQ(Utf8(computer_id_internal::NetworkPart(c.adapters)), c.part) << c.what;
  }
}

}  // namespace
}  // namespace wardex
