// Loading through the checked file: the file checked is the file loaded,
// files and handles are never mixed up, and failures say why.
#include "platform/library_loader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "modules/module_test_env.h"
#include "osal/last_error.h"
#ifdef _WIN32
#include <windows.h>

#include <functional>
#else
#include <signal.h>

#include <cstdio>

#include "crashlog/log_test_util.h"
#include "wardex/crashlog.h"
#endif

namespace wardex {
namespace {

using test::ModuleTestEnv;

// Opens and loads |path| without a trust check; null when either fails.
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

// Loads |file| and expects the test module from |path| (not the Console).
void ExpectLoadsTheModule(platform::LibraryFile file, const std::string& path) {
  platform::LibraryHandle library = platform::LoadLibraryFromFile(std::move(file));
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(IsModule(library));
  EXPECT_FALSE(IsConsole(library));
  EXPECT_EQ(test::Narrow(platform::GetLibraryPath(library)), path);
  EXPECT_TRUE(platform::FreeLibrary(library));
}

// Copies of the test module and of the Console fixture, a library without a
// module factory.
class LibraryLoaderTest : public ::testing::Test {
 protected:
  ModuleTestEnv env_;
  const std::string module_ = env_.Copy(test::kTestModule, "m/a.so");
  const std::string console_ = env_.Copy(test::kTestConsole, "m/b.so");
};

TEST_F(LibraryLoaderTest, DescriptorsOfFreedLibrariesAreNeverConfusedWithNewOnes) {
  for (int round = 0; round < 20; ++round) {
    platform::LibraryHandle first = Load(module_);
    platform::LibraryHandle again = Load(module_);  // same file: one library, two handles
    ASSERT_NE(first, nullptr);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(platform::FreeLibrary(first));
    EXPECT_TRUE(IsModule(again));  // still loaded
    // A new file while the first is still loaded gets one of the descriptor
    // numbers just closed; the loader must not take it for the loaded one.
    platform::LibraryHandle other = Load(console_);
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(IsConsole(other)) << "round " << round;
    EXPECT_FALSE(IsModule(other)) << "round " << round;
    EXPECT_TRUE(platform::FreeLibrary(other));
    EXPECT_TRUE(platform::FreeLibrary(again));
  }
}

TEST_F(LibraryLoaderTest, ThreadsLoadingAndFreeingTheSameFilesKeepThemApart) {
  const int rounds = test::Scaled(100, 20);
  std::atomic<int> mixed_up{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < rounds; ++i) {
        const bool want_module = (i + t) % 2 == 0;
        platform::LibraryHandle library = Load(want_module ? module_ : console_);
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

TEST_F(LibraryLoaderTest, FailuresSetTheLastError) {
  platform::LibraryFile file;
  EXPECT_FALSE(file.Open(test::Wide(env_.root().path() + "/none.so")));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorFileNotFound);
  EXPECT_FALSE(file.Open(test::Wide(env_.root().path())));  // a folder
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorAccessDenied);
  const std::string text = env_.root().path() + "/text.so";
  ASSERT_TRUE(test::WriteFile(text, "not a library"));
  EXPECT_EQ(Load(text), nullptr);
  EXPECT_NE(KaOSAL::GetLastError(), KaOSAL::kErrorSuccess);
  EXPECT_FALSE(platform::FreeLibrary(nullptr));
  EXPECT_EQ(platform::GetProcAddress(nullptr, "x"), nullptr);
}

#ifdef _WIN32

// The checked file is held with read sharing only until it is loaded: nobody
// can change, replace or remove it in between, and what is loaded is that file.
std::wstring WidePath(const std::string& path) { return std::filesystem::path(path).wstring(); }

TEST_F(LibraryLoaderTest, TheCheckedFileCannotBeChangedOrReplacedUntilItIsLoaded) {
  const std::wstring target = WidePath(module_);
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
         return MoveFileExW(WidePath(console_).c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING) != 0;
       }},
  };
  const std::string original = test::ReadFile(module_);
  platform::LibraryFile file;
  ASSERT_TRUE(file.Open(test::Wide(module_)));
  for (const auto& swap : attempts) {
    EXPECT_FALSE(swap.succeeds()) << swap.attempt;
  }
  EXPECT_EQ(test::ReadFile(module_), original);
  ExpectLoadsTheModule(std::move(file), module_);
}

TEST_F(LibraryLoaderTest, AFolderSwappedAboveTheCheckedFileLeavesNothingToLoad) {
  const std::string path = env_.Copy(test::kTestModule, "m/a/lib.dll");
  platform::LibraryFile file;
  ASSERT_TRUE(file.Open(test::Wide(path)));
  const std::wstring folder = WidePath(env_.root().path() + "/m/a");
  if (!MoveFileW(folder.c_str(), (folder + L"-old").c_str())) {
    // Windows refuses to rename a folder above an open file.
    ExpectLoadsTheModule(std::move(file), path);
    return;
  }
  // Wine lets the folder go, and the open file's path still names the old
  // place, where another library now sits: the loader must notice.
  env_.Copy(test::kTestConsole, "m/a/lib.dll");
  EXPECT_EQ(platform::LoadLibraryFromFile(std::move(file)), nullptr);
  EXPECT_NE(test::Narrow(platform::GetLastLoadError()).find(path), std::string::npos);
}

#else

// Loading through /proc/self/fd/N: the file opened is the file loaded, however
// the path changes, and what people read names the file, not its descriptor.
TEST_F(LibraryLoaderTest, LoadsTheOpenedFileEvenWhenThePathIsReplacedAfterTheCheck) {
  platform::LibraryFile file;
  ASSERT_TRUE(file.Open(test::Wide(module_)));
  ASSERT_EQ(std::rename(console_.c_str(), module_.c_str()), 0);  // swapped between check and load
  ExpectLoadsTheModule(std::move(file), module_);
}

// The dynamic loader knows the library as /proc/self/fd/N; a crash report
// names the file.
TEST_F(LibraryLoaderTest, CrashReportsNameTheLoadedFileNotItsDescriptor) {
  const test::ChildResult child = test::RunInChild([&] {
    for (int signal_number : {SIGSEGV, SIGBUS}) signal(signal_number, SIG_DFL);
    InstallCrashHandler();
    platform::LibraryHandle library = Load(module_);
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
  EXPECT_NE(report.find(module_ + "(TestModuleDecorate+0x"), std::string::npos) << report;
  EXPECT_EQ(report.find("/proc/self/fd/"), std::string::npos) << report;
}

#endif

}  // namespace
}  // namespace wardex
