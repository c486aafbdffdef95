// The staged installation tree and machine root: every file in its place, the
// modes the package gives, and every library signed so that the agent trusts
// it with the staged root's anchors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "platform/named_objects.h"
#include "stage_test_env.h"
#include "wardex/kernel_object_names.h"

namespace wardex::test {
namespace {

namespace fs = std::filesystem;

// Runs |command|; its exit status, or -1.
int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// The shared libraries of the installation tree, as paths relative to it.
const std::set<std::string> kLibraries = {
    "libkaosal.so",
    "libcrashlog.so",
    "kpitrack.so",
    "VeLogger.so",
    "VeStyler.so",
    "modules/common/kvl_ipc32.so",
    "modules/consolemodule/ConsoleModule.so",
    "modules/WardexModule/WardexModule.so",
    "modules/SnapCheckModule/SnapCheckModule.so",
    "modules/TurboModule/TurboModule.so",
};

TEST(StagedTree, HoldsEveryFileOfTheInstallation) {
  std::set<std::string> expected = kLibraries;
  expected.insert({"install.cfg", "product.cfg", "language/Texts.ini", "language/Texts_de.ini",
                   "briskostart", "wardex-ipc", "modules/consolemodule/wardex-console",
                   "share/applications/wardex.desktop",
                   "share/icons/hicolor/32x32/apps/wardex.png"});
  if (WARDEX_STAGE_HAS_AGENT) expected.insert("wardex");
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(StagedApp())) {
    if (entry.is_regular_file()) found.insert(fs::relative(entry.path(), StagedApp()).string());
  }
  EXPECT_EQ(found, expected);
  for (const char* program :
       {"briskostart", "wardex-ipc", "modules/consolemodule/wardex-console"}) {
    EXPECT_EQ(ModeOf(StagedApp() + "/" + program) & 0111, 0111u) << program;
  }
}

// Desktops without a tray host reach the menu's commands through this entry.
TEST(StagedTree, DesktopEntryIsValidAndOpensTheQuickCheck) {
  const std::string entry = StagedApp() + "/share/applications/wardex.desktop";
  EXPECT_EQ(RunCommand("desktop-file-validate '" + entry + "'"), 0);
  EXPECT_EQ(RunCommand("grep -qx 'Exec=wardex -snapcheck' '" + entry + "'"), 0);
  EXPECT_EQ(RunCommand("grep -qx 'Icon=wardex' '" + entry + "'"), 0);
}

TEST(StagedTree, MachineRootHasTheAnchorAndTheCommonFolderWithTheirModes) {
  const std::string anchor = StagedRoot() + "/etc/wardex/trust/root-ca.pem";
  ASSERT_TRUE(fs::is_regular_file(anchor));
  // An anchor that group or others may write would be ignored by the trust check.
  EXPECT_EQ(ModeOf(anchor), 0644u);
  EXPECT_EQ(ModeOf(StagedRoot() + "/etc/wardex/trust"), 0755u);
  const std::string common = StagedRoot() + "/var/lib/wardex/common";
  ASSERT_TRUE(fs::is_directory(common));
  EXPECT_EQ(ModeOf(common), 01777u);
}

TEST(StagedTree, EveryLibraryVerifiesAgainstTheStagedAnchors) {
  const std::string trust = StagedRoot() + "/etc/wardex/trust";
  int libraries = 0;
  for (const auto& entry : fs::recursive_directory_iterator(StagedApp())) {
    if (entry.path().extension() != ".so") continue;
    ++libraries;
    const std::string command = std::string(WARDEX_SIGN_TOOL) + " --verify --trust-dir " + trust +
                                " " + entry.path().string() + " >/dev/null";
    EXPECT_EQ(RunCommand(command), 0) << entry.path();
  }
  EXPECT_EQ(libraries, static_cast<int>(kLibraries.size()));
}

TEST(StagedTree, AnchorsOfAnotherRootDoNotTrustTheLibraries) {
  // The verdict above must come from the staged anchor: an empty trust folder
  // trusts nothing.
  StageTestEnv env;
  const std::string empty = env.root().path() + "/empty-trust";
  fs::create_directories(empty);
  EXPECT_EQ(RunCommand(std::string(WARDEX_SIGN_TOOL) + " --verify --trust-dir " + empty + " " +
                       StagedApp() + "/modules/TurboModule/TurboModule.so >/dev/null"),
            1);
}

// Each text file of a language: the agent's section holds every identifier it asks for.
TEST(StagedTree, TextFilesHoldEveryTextTheAgentAsksFor) {
  static constexpr const char* kIds[] = {
      "IDS_WARDEX_TRAY_TOOLTIP",
      "IDS_STRING_RUN",
      "IDS_STRING_LASTNOTIFICATION",
      "IDS_TURBO_ON",
      "IDS_TURBO_OFF",
      "IDS_STRING_OPTIONS",
      "IDS_STRING_INFO",
      "IDS_STRING_EXIT",
  };
  for (const char* file : {"Texts.ini", "Texts_de.ini"}) {
    const std::string text = ReadFile(StagedApp() + "/language/" + file);
    const size_t section = text.find("\n[Wardex]\n");
    ASSERT_NE(section, std::string::npos) << file;
    for (const char* id : kIds) {
      const size_t at = text.find(std::string("\n") + id + "=", section);
      EXPECT_NE(at, std::string::npos) << file << " " << id;
      // Not an empty text.
      if (at != std::string::npos) {
        EXPECT_NE(text[at + 2 + std::string(id).size()], '\n') << id;
      }
    }
  }
}

TEST(StagedTree, StarterStandInHoldsTheStarterSemaphoreWhileItRuns) {
  StageTestEnv env;
  const KaOSAL::KaString name(kStarterSemaphoreName);
  ASSERT_FALSE(platform::NamedSemaphore::Exists(name));
  env.env().Set("BRISKOSTART_SECONDS", "3");
  std::thread starter([] { RunCommand(StagedApp() + "/briskostart 2>/dev/null"); });
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    seen = platform::NamedSemaphore::Exists(name);
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(seen);
  // A second starter finds it held and gives up at once.
  EXPECT_NE(RunCommand(StagedApp() + "/briskostart 2>/dev/null"), 0);
  starter.join();
  EXPECT_FALSE(platform::NamedSemaphore::Exists(name));
}

}  // namespace
}  // namespace wardex::test
