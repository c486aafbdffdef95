// The checked file is held with read sharing only until it is loaded: nobody
// can change, replace or remove it in between, and what is loaded is that file.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "modules/library_loader_test_util.h"
#include "modules/module_test_env.h"
#include "platform/library_loader.h"

namespace wardex {
namespace {

using test::ModuleTestEnv;

std::wstring WidePath(const std::string& path) { return std::filesystem::path(path).wstring(); }

TEST(LibraryLoader, TheCheckedFileCannotBeChangedOrReplacedUntilItIsLoaded) {
  ModuleTestEnv env;
  const std::string path = env.Copy(ModuleTestEnv::FixturePath("test_module"), "m/lib.dll");
  const std::string other = env.Copy(ModuleTestEnv::FixturePath("test_console"), "m/other.dll");
  const std::wstring target = WidePath(path);
  const struct {
    const char* attempt;
    std::function<bool()> succeeds;
  } attempts[] = {
      {"open for writing",
       [&] {
         const HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
         if (file == INVALID_HANDLE_VALUE) return false;
         CloseHandle(file);
         return true;
       }},
      {"delete", [&] { return DeleteFileW(target.c_str()) != 0; }},
      {"rename", [&] { return MoveFileW(target.c_str(), (target + L".old").c_str()) != 0; }},
      {"replace by another library",
       [&] {
         return MoveFileExW(WidePath(other).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) !=
                0;
       }},
  };
  const std::string original = test::ReadFile(path);
  platform::LibraryFile file;
  ASSERT_TRUE(file.Open(test::Wide(path)));
  for (const auto& swap : attempts) {
    EXPECT_FALSE(swap.succeeds()) << swap.attempt;
  }
  EXPECT_EQ(test::ReadFile(path), original);
  test::ExpectLoadsTheModule(std::move(file), path);
}

TEST(LibraryLoader, AFolderSwappedAboveTheCheckedFileLeavesNothingToLoad) {
  ModuleTestEnv env;
  const std::string path = env.Copy(ModuleTestEnv::FixturePath("test_module"), "m/a/lib.dll");
  platform::LibraryFile file;
  ASSERT_TRUE(file.Open(test::Wide(path)));
  const std::wstring folder = WidePath(env.root().path() + "/m/a");
  if (!MoveFileW(folder.c_str(), (folder + L"-old").c_str())) {
    // Windows refuses to rename a folder above an open file.
    test::ExpectLoadsTheModule(std::move(file), path);
    return;
  }
  // Wine lets the folder go, and the open file's path still names the old
  // place, where another library now sits: the loader must notice.
  env.Copy(ModuleTestEnv::FixturePath("test_console"), "m/a/lib.dll");
  EXPECT_EQ(platform::LoadLibraryFromFile(std::move(file)), nullptr);
  EXPECT_NE(test::Narrow(platform::GetLastLoadError()).find(path), std::string::npos);
}

TEST(LibraryLoader, BareNamesAreFoundBesideTheProgramOnly) {
  wchar_t program[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  ASSERT_GT(length, 0u);
  const std::filesystem::path expected =
      std::filesystem::path(std::wstring(program, length)).parent_path() / L"thing.dll";
  EXPECT_EQ(test::Narrow(platform::ResolveLibraryName(u"thing.dll")), expected.string());
}

}  // namespace
}  // namespace wardex
