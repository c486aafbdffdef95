// The special folders as Linux gives them: TMPDIR and /proc/self/exe.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "osal/ka_path.h"
#include "osal/wide_format.h"

namespace KaOSAL {
namespace {

std::string U8(const char16_t* text) { return ToUtf8(std::u16string(text)); }

// Sets |name|, or unsets it for nullptr.
void SetOrUnsetEnv(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

TEST(KaPathTest, TempFolder) {
  const struct {
    const char* tmpdir;
    const char16_t* sub_dir;
    const char* expected;
  } cases[] = {
      {nullptr, nullptr, "/tmp/"},        {"", nullptr, "/tmp/"},
      {"/var/tmp", nullptr, "/var/tmp/"}, {"/var/tmp/", u"wardex", "/var/tmp/wardex/"},
      {nullptr, u"a/b", "/tmp/a/b/"},
  };
  const char* const old = getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  for (const auto& c : cases) {
    SetOrUnsetEnv("TMPDIR", c.tmpdir);
    const KaPath temp(KaPath::eSpecialFolderTemp, c.sub_dir);
    EXPECT_EQ(U8(temp), c.expected) << (c.tmpdir ? c.tmpdir : "(unset)");
  }
  SetOrUnsetEnv("TMPDIR", "/var/tmp");
  EXPECT_TRUE(KaPath(u"/var/tmp").IsSpecialFolder(KaPath::eSpecialFolderTemp));
  EXPECT_FALSE(KaPath(u"/var").IsSpecialFolder(KaPath::eSpecialFolderTemp));
  SetOrUnsetEnv("TMPDIR", old != nullptr ? saved.c_str() : nullptr);
}

TEST(KaPathTest, ExecutableFolderAndPath) {
  char buffer[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  ASSERT_GT(length, 0);
  const std::string exe(buffer, static_cast<size_t>(length));
  const KaPath path(KaPath::eSpecialFolderExecutablePath);
  const KaPath folder(KaPath::eSpecialFolderExecutableDir);
  EXPECT_EQ(U8(path), exe);
  EXPECT_EQ(U8(folder), exe.substr(0, exe.rfind('/') + 1));
  EXPECT_EQ(U8(KaPath(KaPath::eSpecialFolderExecutableDir, u"modules")),
            exe.substr(0, exe.rfind('/') + 1) + "modules/");
  EXPECT_TRUE(KaPath(static_cast<KaPath::ESpecialFolders>(5)).IsEmpty());
}

}  // namespace
}  // namespace KaOSAL
