// Loading through the verified descriptor: the file opened is the file loaded,
// however the path changes, and descriptors are never mixed up.
#include "platform/library_loader.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "crashlog/log_test_util.h"
#include "modules/module_test_env.h"
#include "osal/last_error.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

using test::ModuleTestEnv;

platform::LibraryHandle Load(const std::string& path) {
  platform::LibraryFile file;
  if (!file.Open(test::Wide(path))) return nullptr;
  return platform::LoadLibraryFromFile(std::move(file));
}

bool IsModule(platform::LibraryHandle library) {
  return platform::GetProcAddress(library, "CreateInstanceOfModule") != nullptr;
}

bool IsConsole(platform::LibraryHandle library) {
  return platform::GetProcAddress(library, "CreateConsole") != nullptr;
}

TEST(LibraryLoader, LoadsTheOpenedFileEvenWhenThePathIsReplacedAfterTheCheck) {
  ModuleTestEnv env;
  const std::string path = env.Copy(ModuleTestEnv::FixturePath("test_module"), "m/lib.so");
  const std::string other = env.Copy(ModuleTestEnv::FixturePath("test_console"), "m/other.so");
  platform::LibraryFile file;
  ASSERT_TRUE(file.Open(test::Wide(path)));
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);  // swapped between check and load
  platform::LibraryHandle library = platform::LoadLibraryFromFile(std::move(file));
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(IsModule(library));
  EXPECT_FALSE(IsConsole(library));
  EXPECT_EQ(test::Narrow(platform::GetLibraryPath(library)), path);
  EXPECT_TRUE(platform::FreeLibrary(library));
}

// The dynamic loader knows the library as /proc/self/fd/N; a crash report
// names the file.
TEST(LibraryLoader, CrashReportsNameTheLoadedFileNotItsDescriptor) {
  ModuleTestEnv env;
  const std::string path = env.Copy(ModuleTestEnv::FixturePath("test_module"), "m/crashing.so");
  const test::ChildResult child = test::RunInChild([&] {
    for (int signal_number : {SIGSEGV, SIGBUS}) signal(signal_number, SIG_DFL);
    InstallCrashHandler();
    platform::LibraryHandle library = Load(path);
    using Decorate = void (*)(const KaOSAL::KaString*, KaOSAL::KaString*);
    auto decorate =
        reinterpret_cast<Decorate>(platform::GetProcAddress(library, "TestModuleDecorate"));
    // An address below any mapping, but no null pointer, which the undefined-
    // behaviour sanitizer would report before the hardware faults.
    const auto* unmapped = reinterpret_cast<const KaOSAL::KaString*>(uintptr_t{4096});
    KaOSAL::KaString out;
    if (decorate != nullptr) decorate(unmapped, &out);
  });
  ASSERT_TRUE(child.DiedOf(SIGSEGV)) << child.status;
  const std::string log_file = std::getenv("WARDEX_LOG_FILE");
  const std::string report =
      test::ReadReports(std::filesystem::path(log_file).parent_path(), child.pid);
  EXPECT_NE(report.find(path + "(TestModuleDecorate+0x"), std::string::npos) << report;
  EXPECT_EQ(report.find("/proc/self/fd/"), std::string::npos) << report;
}

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
  EXPECT_FALSE(file.Open(test::Wide(env.root().path() + "/none/deeper.so")));
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

TEST(LibraryLoader, BareNamesAreFoundOnTheLibraryPathThenBesideTheProgram) {
  ModuleTestEnv env;
  EXPECT_TRUE(platform::IsBareLibraryName(u"kpitrack.so"));
  EXPECT_FALSE(platform::IsBareLibraryName(u"./kpitrack.so"));
  EXPECT_FALSE(platform::IsBareLibraryName(u""));
  const std::string folder = env.root().path() + "/lib";
  env.env().Set("LD_LIBRARY_PATH", "/nonexistent::" + folder);
  const std::string exe_folder = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  EXPECT_EQ(test::Narrow(platform::ResolveLibraryName(u"thing.so")), exe_folder + "/thing.so");
  ASSERT_TRUE(test::WriteFile(folder + "/thing.so", "x"));
  EXPECT_EQ(test::Narrow(platform::ResolveLibraryName(u"thing.so")), folder + "/thing.so");
}

}  // namespace
}  // namespace wardex
