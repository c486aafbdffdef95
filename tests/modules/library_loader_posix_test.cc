// Loading through /proc/self/fd/N: the file opened is the file loaded, however
// the path changes, and what people read names the file, not its descriptor.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "crashlog/log_test_util.h"
#include "modules/library_loader_test_util.h"
#include "modules/module_test_env.h"
#include "platform/library_loader.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

using test::Load;
using test::ModuleTestEnv;

TEST(LibraryLoader, LoadsTheOpenedFileEvenWhenThePathIsReplacedAfterTheCheck) {
  ModuleTestEnv env;
  const std::string path = env.Copy(ModuleTestEnv::FixturePath("test_module"), "m/lib.so");
  const std::string other = env.Copy(ModuleTestEnv::FixturePath("test_console"), "m/other.so");
  platform::LibraryFile file;
  ASSERT_TRUE(file.Open(test::Wide(path)));
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);  // swapped between check and load
  test::ExpectLoadsTheModule(std::move(file), path);
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
