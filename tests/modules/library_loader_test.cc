// Loading through the checked file: files and handles are never mixed up,
// and failures say why.
#include "platform/library_loader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "modules/library_loader_test_util.h"
#include "modules/module_test_env.h"
#include "osal/last_error.h"

namespace wardex {
namespace {

using test::IsConsole;
using test::IsModule;
using test::Load;
using test::ModuleTestEnv;

TEST(LibraryLoader, DescriptorsOfFreedLibrariesAreNeverConfusedWithNewOnes) {
  ModuleTestEnv env;
  const std::string module = env.Copy(ModuleTestEnv::FixturePath("test_module"), "m/a.so");
  const std::string console = env.Copy(ModuleTestEnv::FixturePath("test_console"), "m/b.so");
  for (int round = 0; round < 20; ++round) {
    platform::LibraryHandle first = Load(module);
    platform::LibraryHandle again = Load(module);  // same file: one library, two handles
    ASSERT_NE(first, nullptr);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(platform::FreeLibrary(first));
    EXPECT_TRUE(IsModule(again));  // still loaded
    // A new file while the first is still loaded gets one of the descriptor
    // numbers just closed; the loader must not take it for the loaded one.
    platform::LibraryHandle other = Load(console);
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(IsConsole(other)) << "round " << round;
    EXPECT_FALSE(IsModule(other)) << "round " << round;
    EXPECT_TRUE(platform::FreeLibrary(other));
    EXPECT_TRUE(platform::FreeLibrary(again));
  }
}

TEST(LibraryLoader, ThreadsLoadingAndFreeingTheSameFilesKeepThemApart) {
  ModuleTestEnv env;
  const std::string module = env.Copy(ModuleTestEnv::FixturePath("test_module"), "m/a.so");
  const std::string console = env.Copy(ModuleTestEnv::FixturePath("test_console"), "m/b.so");
  const int rounds = test::Scaled(100, 20);
  std::atomic<int> mixed_up{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < rounds; ++i) {
        const bool want_module = (i + t) % 2 == 0;
        platform::LibraryHandle library = Load(want_module ? module : console);
        if (library == nullptr || IsModule(library) != want_module ||
            IsConsole(library) == want_module) {
          ++mixed_up;
        }
        if (library != nullptr && !platform::FreeLibrary(library)) ++mixed_up;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mixed_up.load(), 0);
}

TEST(LibraryLoader, FailuresSetTheLastError) {
  ModuleTestEnv env;
  platform::LibraryFile file;
  EXPECT_FALSE(file.Open(test::Wide(env.root().path() + "/none.so")));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorFileNotFound);
  EXPECT_FALSE(file.Open(test::Wide(env.root().path())));  // a folder
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorAccessDenied);
  const std::string text = env.root().path() + "/text.so";
  ASSERT_TRUE(test::WriteFile(text, "not a library"));
  EXPECT_EQ(Load(text), nullptr);
  EXPECT_NE(KaOSAL::GetLastError(), KaOSAL::kErrorSuccess);
  EXPECT_FALSE(platform::FreeLibrary(nullptr));
  EXPECT_EQ(platform::GetProcAddress(nullptr, "x"), nullptr);
}

}  // namespace
}  // namespace wardex
