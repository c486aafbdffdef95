// The staged installation tree and machine root: every file in its place, the
// modes the package gives, and every library signed so that the agent trusts
// it with the staged root's anchors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_objects.h"
#include "stage_test_env.h"
#include "support/wait.h"
#include "wardex/kernel_object_names.h"

namespace wardex::test {
namespace {

namespace fs = std::filesystem;

// With the set-id and sticky bits.
unsigned ModeOf(const std::string& path) {
  return static_cast<unsigned>(fs::status(path).permissions()) & 07777;
}

// The shared libraries of the installation tree, as paths relative to it.
const std::set<std::string> kLibraries = {"libkaosal.so",
                                          "libcrashlog.so",
                                          "kpitrack.so",
                                          "VeLogger.so",
                                          "VeStyler.so",
                                          "modules/common/kvl_ipc32.so",
                                          "modules/consolemodule/ConsoleModule.so",
                                          "modules/HandsetLinkModule/HandsetLinkModule.so",
                                          "modules/WardexModule/WardexModule.so",
                                          "modules/SnapCheckModule/SnapCheckModule.so",
                                          "modules/TurboModule/TurboModule.so"};

TEST(StagedTree, HoldsEveryFileOfTheInstallation) {
  std::set<std::string> expected = kLibraries;
  expected.insert({"install.cfg", "product.cfg", "language/Texts.ini", "language/Texts_de.ini",
                   "briskostart", "wardex-ipc", "modules/consolemodule/wardex-console",
                   "share/applications/org.wardex.Console.desktop"});
  for (const char* size : {"32", "48", "64", "128", "256"})
    expected.insert(std::string("share/icons/hicolor/") + size + "x" + size + "/apps/wardex.png");
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

// Desktops without a tray host reach the menu's commands through this entry;
// it is the Console's application id, whose windows and notifications it names.
TEST(StagedTree, DesktopEntryIsValidAndOpensTheQuickCheck) {
  const std::string entry = StagedApp() + "/share/applications/org.wardex.Console.desktop";
  EXPECT_EQ(RunShell("desktop-file-validate '" + entry + "'"), 0);
  EXPECT_EQ(RunShell("grep -qx 'Exec=wardex -snapcheck' '" + entry + "'"), 0);
  EXPECT_EQ(RunShell("grep -qx 'Icon=wardex' '" + entry + "'"), 0);
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

// Which libraries the tree holds is the test above's.
TEST(StagedTree, EveryLibraryVerifiesAgainstTheStagedAnchors) {
  const std::string trust = StagedRoot() + "/etc/wardex/trust";
  for (const std::string& library : kLibraries) {
    EXPECT_EQ(RunShell(std::string(WARDEX_SIGN_TOOL) + " --verify --trust-dir " + trust + " " +
                       StagedApp() + "/" + library + " >/dev/null"),
              0)
        << library;
  }
}

// The lines that |command| prints.
std::vector<std::string> OutputLines(const std::string& command) {
  std::string output;
  RunShell(command, &output);
  std::vector<std::string> lines;
  std::istringstream stream(output);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The dynamic section's entries of |tag| ("RUNPATH", "RPATH", "NEEDED") in
// the ELF file at |path|, as readelf prints them.
std::vector<std::string> DynamicEntries(const std::string& path, const std::string& tag) {
  const std::regex entry_list("\\(" + tag + "\\).*\\[(.*)\\]");
  std::vector<std::string> entries;
  for (const std::string& text : OutputLines("readelf -d '" + path + "' 2>/dev/null")) {
    std::smatch match;
    if (!std::regex_search(text, match, entry_list)) continue;
    std::stringstream list(match[1].str());
    for (std::string entry; std::getline(list, entry, ':');) entries.push_back(entry);
  }
  return entries;
}

// The (mangled) names that nm lists for |file| with |options| whose type
// letter is one of |types|.
std::set<std::string> SymbolNames(const std::string& file, const std::string& options,
                                  const std::string& types) {
  std::set<std::string> names;
  // "name type [address size]", an archive's members "archive[member]:".
  for (const std::string& line : OutputLines("nm -P " + options + " '" + file + "' 2>/dev/null")) {
    std::string name, type;
    std::istringstream(line) >> name >> type;
    if (type.size() == 1 && types.find(type[0]) != std::string::npos) names.insert(name);
  }
  return names;
}

std::vector<std::string> Shared(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::vector<std::string> shared;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(shared));
  return shared;
}

// The platform's services hold the state of the whole process (the window
// table, the shell, the registry's hives, the loader's images...) and live in
// the agent alone: a plug-in, linked with the stateless base, neither carries
// their code and state nor calls them.
TEST(StagedTree, PlugInsNeitherCarryNorCallThePlatformServices) {
  const std::set<std::string> services =
      SymbolNames(WARDEX_PLATFORM_SERVICES, "--defined-only --extern-only", "TDBR");
  ASSERT_GT(services.size(), 100u);
  for (const std::string& library : kLibraries) {
    EXPECT_EQ(Shared(services, SymbolNames(StagedApp() + "/" + library, "", "TtDdBbRrU")),
              std::vector<std::string>{})
        << library;
  }
  // The same look finds them where they are linked.
  if (WARDEX_STAGE_HAS_AGENT) {
    EXPECT_GT(Shared(services, SymbolNames(StagedApp() + "/wardex", "--defined-only", "Tt")).size(),
              100u);
  }
}

bool IsElf(const fs::path& path) { return ReadFile(path.string()).starts_with("\177ELF"); }

// The tree must work wherever it is installed: a RUNPATH into the build tree
// would load whatever lies there, and an absolute one ties the tree to one
// place. Each entry is $ORIGIN-relative and names a folder of the tree, and a
// file with a RUNPATH finds there every library of the tree it needs.
TEST(StagedTree, EveryRunPathStaysInsideTheTree) {
  const fs::path app = fs::canonical(StagedApp());
  std::set<std::string> tree_libraries;
  for (const std::string& library : kLibraries) {
    tree_libraries.insert(fs::path(library).filename().string());
  }
  std::set<std::string> with_runpath;
  for (const auto& entry : fs::recursive_directory_iterator(app)) {
    if (!entry.is_regular_file() || !IsElf(entry.path())) continue;
    const std::string name = fs::relative(entry.path(), app).string();
    SCOPED_TRACE(name);
    EXPECT_EQ(DynamicEntries(entry.path(), "RPATH"), std::vector<std::string>{});
    const std::vector<std::string> runpath = DynamicEntries(entry.path(), "RUNPATH");
    if (!runpath.empty()) with_runpath.insert(name);
    std::vector<fs::path> folders;
    for (const std::string& item : runpath) {
      ASSERT_EQ(item.rfind("$ORIGIN", 0), 0u) << item;
      const fs::path folder =
          fs::weakly_canonical(entry.path().parent_path() / ("." + item.substr(7)));
      const std::string relative = fs::relative(folder, app).string();
      EXPECT_TRUE(fs::is_directory(folder) && relative.rfind("..", 0) != 0) << item;
      folders.push_back(folder);
    }
    if (runpath.empty()) continue;
    for (const std::string& needed : DynamicEntries(entry.path(), "NEEDED")) {
      if (tree_libraries.count(needed) == 0) continue;
      EXPECT_TRUE(std::any_of(folders.begin(), folders.end(), [&](const fs::path& f) {
        return fs::exists(f / needed);
      })) << needed;
    }
  }
  // The programs and libcrashlog.so find the tree's libraries through $ORIGIN;
  // the libraries loaded after the trust check find them already loaded.
  std::set<std::string> linking = {"wardex-ipc", "libcrashlog.so"};
  if (WARDEX_STAGE_HAS_AGENT) linking.insert("wardex");
  EXPECT_EQ(with_runpath, linking);
  EXPECT_EQ(RunShell(StagedApp() + "/wardex-ipc --help >/dev/null"), 0);
}

// Each text file of a language: the agent's section holds every identifier it asks for.
TEST(StagedTree, TextFilesHoldEveryTextTheAgentAsksFor) {
  static constexpr const char* kIds[] = {"IDS_WARDEX_TRAY_TOOLTIP",
                                         "IDS_STRING_RUN",
                                         "IDS_STRING_LASTNOTIFICATION",
                                         "IDS_TURBO_ON",
                                         "IDS_TURBO_OFF",
                                         "IDS_STRING_OPTIONS",
                                         "IDS_STRING_INFO",
                                         "IDS_STRING_EXIT"};
  for (const char* file : {"Texts.ini", "Texts_de.ini"}) {
    const std::string text = ReadFile(StagedApp() + "/language/" + file);
    const size_t section = text.find("\n[Wardex]\n");
    ASSERT_NE(section, std::string::npos) << file;
    for (const char* id : kIds) {
      // Present, and not an empty text.
      const size_t at = text.find(std::string("\n") + id + "=", section);
      EXPECT_TRUE(at != std::string::npos && text[at + 2 + strlen(id)] != '\n')
          << file << " " << id;
    }
  }
}

TEST(StagedTree, StarterStandInHoldsTheStarterSemaphoreWhileItRuns) {
  StageTestEnv env;
  const KaOSAL::KaString name(kStarterSemaphoreName);
  ASSERT_FALSE(platform::NamedSemaphore::Exists(name));
  env.env().Set("BRISKOSTART_SECONDS", "3");
  std::thread starter([] { RunShell(StagedApp() + "/briskostart 2>/dev/null"); });
  EXPECT_TRUE(WaitFor([&] { return platform::NamedSemaphore::Exists(name); }));
  // A second starter finds it held and gives up at once.
  EXPECT_NE(RunShell(StagedApp() + "/briskostart 2>/dev/null"), 0);
  starter.join();
  EXPECT_FALSE(platform::NamedSemaphore::Exists(name));
}

}  // namespace
}  // namespace wardex::test
