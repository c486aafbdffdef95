#include "osal/ka_path.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "osal/wide_format.h"
#if !defined(_WIN32)
#include "crashlog/log_test_util.h"
#endif

namespace KaOSAL {
namespace {

std::string U8(const char16_t* text) { return ToUtf8(std::u16string(text)); }

using Text16 = const char16_t*;  // a table cell
using enum KaPath::EPathType;
const auto kAppendPath = static_cast<bool (KaPath::*)(const KaPath&)>(&KaPath::AppendDir);
const auto kAppendText = static_cast<bool (KaPath::*)(const KaString&)>(&KaPath::AppendDir);

// Root, dir, file name and extension, each followed by "|".
std::string Joined(const KaString& root, const KaString& dir, const KaString& name,
                   const KaString& ext) {
  return U8(root) + "|" + U8(dir) + "|" + U8(name) + "|" + U8(ext) + "|";
}
std::string Parts(const KaPath& path) {
  return Joined(path.GetRoot(), path.GetDir(), path.GetFileName(), path.GetExt());
}

// What |change| with |args| returned on the path |start|, and the path then: "1 /a/b".
template <typename... Params, typename... Args>
std::string After(Text16 start, bool (KaPath::*change)(Params...), const Args&... args) {
  KaPath path(start);
  const bool ok = (path.*change)(args...);
  return (ok ? "1 " : "0 ") + U8(path);
}

// |text| after |repair|, with what it returned ahead ("1 ", "0 ") when it returns a result.
template <typename Repair>
std::string Repaired(Text16 text, Repair repair) {
  KaString s(text);
  if constexpr (std::is_void_v<decltype(repair(s))>) {
    repair(s);
    return U8(s);
  } else {
    const bool changed = repair(s);
    return (changed ? "1 " : "0 ") + U8(s);
  }
}

// The path |start| once assigned its own |component|.
std::string AssignedOwn(Text16 start, const KaString& (KaPath::*component)() const) {
  KaPath path(start);
  path = (path.*component)();
  return U8(path);
}

TEST(KaPathTest, SplitsEveryForm) {
  const std::tuple<Text16, const char*, KaPath::EPathType> cases[] = {
      {u"c:\\", "c:|\\|||", ePathTypeLocal},
      {u"C:\\dir\\\\sub\\file.txt", "C:|\\dir\\sub\\|file|.txt|", ePathTypeLocal},
      {u"C:file.txt", "C:|\\|file|.txt|", ePathTypeLocal},
      {u"C://x", "C:|/|x||", ePathTypeLocal},
      {u"\\\\server\\share", "\\\\server\\share|\\|||", ePathTypeUNC},
      {u"\\\\server", "\\\\server||||", ePathTypeUNC},
      {u"\\\\srv\\sh\\d\\\\e\\f.txt", "\\\\srv\\sh|\\d\\e\\|f|.txt|", ePathTypeUNC},
      {u"http://host/a/b/page.html", "http://host|/a/b/|page|.html|", ePathTypeURL},
      {u"https://host/a.b/file", "https://host|/a.b/|file||", ePathTypeURL},
      {u"/usr/lib/x.so", "|/usr/lib/|x|.so|", ePathTypeLocal},
      {u"//usr///lib//x.so", "|/usr/lib/|x|.so|", ePathTypeLocal},
      {u"/", "|/|||", ePathTypeLocal},
      {u"/home/u/.bashrc", "|/home/u/||.bashrc|", ePathTypeLocal},
      {u"\\a\\b.txt", "|\\a\\|b|.txt|", ePathTypeNone},
      {u"a/b\\c.tar.gz", "|a/b\\|c.tar|.gz|", ePathTypeRelative},
      {u"README", "||README||", ePathTypeRelative},
      {u"", "||||", ePathTypeNone},
  };
  for (const auto& [text, parts, type] : cases) {
    SCOPED_TRACE(U8(text));
    const KaPath path(text);
    EXPECT_EQ(
        std::tuple(U8(path), Parts(path), path.GetPathType(), path.IsRelative(), path.IsFullPath()),
        std::tuple(U8(text), parts, type, type == ePathTypeRelative, type >= ePathTypeLocal));
    // SplitPath on a fresh path splits all four at once.
    KaString root, dir, name, ext;
    EXPECT_TRUE(KaPath(text).SplitPath(root, dir, name, ext));
    EXPECT_EQ(Joined(root, dir, name, ext), parts);
  }
}

TEST(KaPathTest, WholeTexts) {
  KaPath reused(u"C:\\a\\b.txt");
  ASSERT_EQ(U8(reused.GetFileName()), "b");  // split before the next assignment
  reused = u"/x/y.so";
  const std::string after_reuse = Parts(reused);
  const KaPath copy(reused);
  reused = KaString(u"other");
  const std::pair<std::string, std::string> cases[] = {
      // Assignment drops the components of the previous path.
      {after_reuse, "|/x/|y|.so|"},
      {Parts(reused), "||other||"},
      {Parts(copy), "|/x/|y|.so|"},
      // Assigning one of its own components keeps that text.
      {AssignedOwn(u"/usr/lib/x.so", &KaPath::GetDir), "/usr/lib/"},
      {AssignedOwn(u"/usr/lib/x.so", &KaPath::GetFileName), "x"},
      {AssignedOwn(u"/usr/lib/x.so", &KaPath::GetExt), ".so"},
      {AssignedOwn(u"C:\\a\\x.txt", &KaPath::GetRoot), "C:\\"},
      {U8(KaPath(u"c:")), "c:\\"},
      {U8(KaPath(u"/usr/lib/x.so").GetPathWithoutExtension()), "/usr/lib/x"},
      {U8(KaPath(u"/usr/lib/x.so").GetDirLastComponent()), "lib"},
      {U8(KaPath(u"C:\\a\\b.c").GetPathWithoutRoot()), "\\a\\b.c"},
      {U8(KaPath(u"C:").GetRootAndDir()), "C:\\"},
      {U8(KaPath::GetRootFromDriveNumber(0)), "A:"},
      {U8(KaPath::GetRootFromDriveNumber(25)), "Z:"},
      {U8(KaPath::GetRootFromDriveNumber(26)), ""},
      {U8(KaPath::GetRootFromDriveNumber(-1)), ""},
      {U8(KaPath(static_cast<KaPath::EDriveNumber>(3))), "D:\\"},
      {U8(KaPath(static_cast<KaPath::EDriveNumber>(26))), ""},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << i;
}

// Composition assigns through the KaString slot, so an override sees every
// composed path.
class RecordingPath : public KaPath {
 public:
  using KaPath::operator=;
  KaPath& operator=(const KaString& path) override {
    ++assignments;
    return KaPath::operator=(path);
  }
  int assignments = 0;
};

TEST(KaPathTest, CompositionAndWideAssignmentGoThroughTheStringSlot) {
  RecordingPath path;
  path = u"/a/b.txt";
  path.SetExt(u"log");
  path.SetFileName(u"c");
  EXPECT_EQ(std::pair(path.assignments, U8(path)), std::pair(3, std::string("/a/c.log")));
}

TEST(KaPathTest, MakePathComposes) {
  const std::tuple<Text16, Text16, Text16, Text16, Text16> cases[] = {
      {u"C:", u"\\dir", u"file", u"txt", u"C:\\dir\\file.txt"},
      {u"C", u"dir", u"file", u".txt", u"C:\\dir\\file.txt"},
      {u"C:\\", u"", u"f", u"", u"C:\\f"},
      {u"C:", u"\\dir  \\", u"f", u"", u"C:\\dir\\f"},
      {u"C:", u"/dir", u"f", u"", u"C:/dir/f"},
      {u"", u"/usr/lib", u"x", u"so", u"/usr/lib/x.so"},
      {u"", u"rel", u"f", u"txt \t", u"rel/f.txt"},
      {u"", u"/", u"x", u"", u"/x"},
      {u"/", u"usr", u"x", u"", u"/usr/x"},
      {u"\\\\server\\share\\", u"dir", u"f", u"txt", u"\\\\server\\share\\dir\\f.txt"},
      {u"\\\\server\\share", u"", u"", u"", u"\\\\server\\share\\"},
      {u"http://host", u"a/b", u"page", u"html", u"http://host/a/b/page.html"},
  };
  for (const auto& [root, dir, name, ext, expected] : cases) {
    KaPath path(u"/previous/path.txt");
    EXPECT_TRUE(path.MakePath(root, dir, name, ext));
    EXPECT_EQ(U8(path), U8(expected)) << U8(root) << " | " << U8(dir);
  }
  KaPath drive;
  EXPECT_TRUE(drive.MakePath(KaPath::eDriveC, u"x", u"y", u"z"));
  EXPECT_EQ(U8(drive), "C:\\x\\y.z");
}

// Setters replace one component; AppendDir takes only folders without a root.
TEST(KaPathTest, Changes) {
  // The joined dir "<dir>./<other>/" must stay below 4096 characters.
  const std::u16string fits = u"/" + std::u16string(3990, u'd') + u"/";
  const std::u16string too_long = u"/" + std::u16string(3991, u'd') + u"/";
  const std::u16string hundred = std::u16string(100, u'e') + u"/";
  const KaPath hundred_path(hundred.c_str());
  const std::pair<std::string, std::string> cases[] = {
      {After(u"/a/old.txt", &KaPath::SetFileNameAndExt, u"archive.tar.gz"), "1 /a/archive.tar.gz"},
      {After(u"C:\\a\\old.txt", &KaPath::SetFileNameAndExt, u"README"), "1 C:\\a\\README"},
      {After(u"C:\\a\\x.txt", &KaPath::SetFileName, u""), "1 C:\\a\\"},
      {After(u"/usr/lib/x.so", &KaPath::SetFileName, u"y"), "1 /usr/lib/y.so"},
      {After(u"/etc/x.cfg", &KaPath::SetExt, u"conf"), "1 /etc/x.conf"},
      {After(u"/etc/x.cfg", &KaPath::SetExt, u""), "1 /etc/x"},
      {After(u"/usr/lib/x.so", &KaPath::SetDir, u"/opt/app"), "1 /opt/app/x.so"},
      {After(u"C:\\a\\x.txt", &KaPath::SetRoot, u"D"), "1 D:\\a\\x.txt"},
      {After(u"/a/b/x", &KaPath::SetDirLastComponent, u"z"), "1 /a/z/x"},
      {After(u"x", &KaPath::SetDirLastComponent, u"z"), "0 x"},
      {After(u"/a/b/x", &KaPath::SetDirLastComponent, u"y/z"), "0 /a/b/x"},
      {After(u"/a/b/x.txt", &KaPath::SetRootAndDir, u"/srv/data"), "1 /srv/data/x.txt"},
      {After(u"/a/b/x.txt", &KaPath::SetRootAndDir, u"E:\\d"), "1 E:\\d\\x.txt"},
      // From a path, its dir is the folder to append.
      {After(u"C:\\a\\file.txt", kAppendPath, KaPath(u"sub/")), "1 C:\\a\\sub\\file.txt"},
      {After(u"C:\\a\\", kAppendPath, KaPath(u"b\\c\\")), "1 C:\\a\\b\\c\\"},
      {After(u"/usr/lib/x.so", kAppendPath, KaPath(u"a/../b/")), "1 /usr/lib/b/x.so"},
      {After(u"/tmp/", kAppendPath, KaPath(u"../../../")), "1 /"},
      {After(u"rel/", kAppendPath, KaPath(u"sub/")), "1 rel/sub/"},
      {After(u"C:\\a\\file.txt", kAppendPath, KaPath(u"C:\\abs\\")), "0 C:\\a\\file.txt"},
      {After(u"C:\\a\\file.txt", kAppendPath, KaPath(u"sub\\file.txt")), "0 C:\\a\\file.txt"},
      {After(u"/usr/lib/", kAppendPath, KaPath(u"/abs/")), "0 /usr/lib/"},
      {After(u"/usr/lib/", kAppendPath, KaPath(u"http://host/x/")), "0 /usr/lib/"},
      {After(u"C:\\a\\.\\file.txt", kAppendPath, KaPath()), "1 C:\\a\\file.txt"},
      // A leading backslash is no root: only "/" makes a rootless path absolute.
      {After(u"C:\\a\\", kAppendPath, KaPath(u"\\b\\")), "1 C:\\a\\b\\"},
      {After(u"/usr/lib/x.so", kAppendPath, KaPath(u"\\b\\c\\")), "1 /usr/lib/b/c/x.so"},
      {After(u"C:\\a\\", kAppendPath, KaPath(u"\\\\srv\\sh")), "0 C:\\a\\"},
      {After(fits.c_str(), kAppendPath, hundred_path), "1 " + U8(fits.c_str()) + U8(hundred_path)},
      {After(too_long.c_str(), kAppendPath, hundred_path), "0 " + U8(too_long.c_str())},
      // From text, the whole text is the folder to append.
      {After(u"C:\\a\\file.txt", kAppendText, u"sub"), "1 C:\\a\\sub\\file.txt"},
      {After(u"/usr/lib/x.so", kAppendText, u"sub"), "1 /usr/lib/sub/x.so"},
      {After(u"/usr/lib/x.so", kAppendText, u"sub/file.txt"), "1 /usr/lib/sub/file.txt/x.so"},
      {After(u"/usr/lib/x.so", kAppendText, u"/abs"), "0 /usr/lib/x.so"},
      {After(u"C:\\a\\file.txt", kAppendText, u"\\sub"), "1 C:\\a\\sub\\file.txt"},
      {After(u"C:\\a\\file.txt", kAppendText, u"D:\\b"), "0 C:\\a\\file.txt"},
      {After(u"/a/./b/x.so", kAppendText, u""), "1 /a/b/x.so"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << i;
}

TEST(KaPathTest, GotoParentClimbsOneFolder) {
  const std::tuple<Text16, bool, Text16, Text16> cases[] = {
      {u"C:\\", false, u"C:\\", u"\\"},
      {u"C:\\a\\b\\", true, u"C:\\a\\", u"\\a\\"},
      {u"/usr/lib/x.so", true, u"/usr/x.so", u"/usr/"},
      {u"/a/", true, u"/", u"/"},
      {u"/", false, u"/", u"/"},
      {u"", false, u"", u""},
      {u"../", true, u"../../", u"../../"},
      {u"\\\\srv\\sh\\d\\f.txt", true, u"\\\\srv\\sh\\f.txt", u"\\"},
  };
  for (const auto& [start, ok, expected, dir] : cases) {
    SCOPED_TRACE(U8(start));
    KaPath path(start);
    EXPECT_EQ(path.GotoParent(), ok);
    EXPECT_EQ(std::pair(U8(path), U8(path.GetDir())), std::pair(U8(expected), U8(dir)));
  }
}

TEST(KaPathTest, CanonicalizeResolvesDotsOnce) {
  const std::tuple<Text16, bool, Text16> cases[] = {
      {u"/a/./b/../c/x.txt", false, u"/a/c/x.txt"},
      {u"C:\\a\\..\\..\\b\\", false, u"C:\\b\\"},
      {u"a/../../x/", false, u"../x/"},
      {u"/../x/", false, u"/x/"},
      {u"./x/f", false, u"x/f"},
      {u"/a/b/", true, u"/a/b/"},
      {u"../x/", true, u"../x/"},
      {u"/", true, u"/"},
  };
  for (const auto& [start, canonical_before, expected] : cases) {
    SCOPED_TRACE(U8(start));
    KaPath path(start);
    EXPECT_EQ(path.IsCanonicalized(), canonical_before);
    EXPECT_EQ(path.Canonicalize(), !canonical_before);
    EXPECT_EQ(U8(path), U8(expected));
    EXPECT_TRUE(path.IsCanonicalized());
    EXPECT_FALSE(path.Canonicalize());
  }
  KaPath pretty(u"C:\\Dir\\.\\Sub\\File.TXT");
  EXPECT_TRUE(pretty.MakePretty());
  EXPECT_EQ(U8(pretty), "c:\\dir\\sub\\file.txt");
  EXPECT_EQ(U8(pretty.GetExt()), ".txt");
}

TEST(KaPathTest, CombinePathNeedsOneRelativePath) {
  const std::tuple<Text16, Text16, bool, Text16> cases[] = {
      {u"C:\\a\\", u"D:\\b\\", false, u""},
      {u"/a/", u"/b/x", false, u""},
      {u"/a/", u"http://host/x", false, u""},
      {u"C:\\a\\", u"b\\c.txt", true, u"C:\\a\\b\\c.txt"},
      {u"C:\\a\\", u"b/c/d.txt", true, u"C:\\a\\b\\c\\d.txt"},
      {u"b/c.txt", u"/usr/", true, u"/usr/b/c.txt"},
      {u"/usr/share", u"doc/x.txt", true, u"/usr/doc/x.txt"},
      {u"http://host/a/", u"b/p.html", true, u"http://host/a/b/p.html"},
      {u"x/", u"y/z.txt", true, u"x/y/z.txt"},
  };
  for (const auto& [a, b, ok, expected] : cases) {
    SCOPED_TRACE(U8(a) + " + " + U8(b));
    KaPath out(u"/stale/value");
    EXPECT_EQ(KaPath::CombinePath(a, b, out), ok);
    EXPECT_EQ(U8(out), U8(expected));
  }
}

TEST(KaPathTest, DriveNumbersFromRoots) {
  const std::pair<const char16_t*, int> cases[] = {
      {u"C:", 2},    {u"c", 2},   {u"z:", 25},   {u"A", 0},  {u"", -1},
      {u"C:\\", -1}, {u"1:", -1}, {u"\\\\", -1}, {u"/", -1}, {u"http://h", -1}};
  for (const auto& [root, drive] : cases)
    EXPECT_EQ(KaPath::GetDriveNumberFromRoot(root), drive) << U8(root);
  EXPECT_EQ(KaPath(static_cast<KaPath::EDriveNumber>(3)).GetDriveNumber(), 3);
}

// The queries that are true of each path, by name.
TEST(KaPathTest, Queries) {
  const std::pair<Text16, std::string> cases[] = {
      {u"C:\\", "root directory "},
      {u"/", "root directory "},
      {u"/usr/", "directory "},
      {u"/usr/x", "file "},
      {u"\\\\srv", "root server directory network "},
      {u"\\\\srv\\share", "root share directory network "},
      {u"\\\\srv\\share\\d\\", "directory network "},
      {u"http://h/p.html", "file network "},
      {u"", ""},
  };
  for (const auto& [text, expected] : cases) {
    const KaPath path(text);
    std::string is;
    const std::pair<bool, const char*> queries[] = {{path.IsRoot(), "root "},
                                                    {path.IsUNCServer(), "server "},
                                                    {path.IsUNCServerShare(), "share "},
                                                    {path.IsFile(), "file "},
                                                    {path.IsDirectory(), "directory "},
                                                    {path.IsNetwork(), "network "}};
    for (const auto& [yes, name] : queries)
      if (yes) is += name;
    EXPECT_EQ(is, expected) << U8(text);
  }
}

TEST(KaPathTest, ComparisonIgnoresCaseOnlyForWindowsShapes) {
  EXPECT_TRUE(KaPath(u"C:\\A\\x.TXT") == u"c:/a/X.txt");
  EXPECT_TRUE(KaPath(u"\\\\Srv\\Share") == KaPath(u"\\\\srv\\share"));
  EXPECT_TRUE(KaPath(u"/A/b") != KaString(u"/a/b"));
  EXPECT_TRUE(KaPath(u"/a/b") == u"/a/b");
}

// The static helpers that correct a text in place keep its separator style.
TEST(KaPathTest, TextRepairs) {
  const std::pair<std::string, const char*> cases[] = {
      {Repaired(u"a/b\\c\x01", KaPath::CorrectPathComponentForFileSystem), "1 a_b_c_"},
      {Repaired(u"..", KaPath::CorrectPathComponentForFileSystem), "1 __"},
      {Repaired(u"C:\\a\\\\", KaPath::RemoveTrailingPathSeparator), "C:\\a"},
      {Repaired(u"C:\\", KaPath::RemoveTrailingPathSeparator), "C:\\"},
      {Repaired(u"//", KaPath::RemoveTrailingPathSeparator), "/"},
      {Repaired(u"C:\\a", KaPath::VerifyTrailingPathSeparator), "C:\\a\\"},
      {Repaired(u"usr/lib", KaPath::VerifyLeadingPathSeparator), "/usr/lib"},
      {Repaired(u"txt", KaPath::VerifyLeadingPeriod), ".txt"},
      {Repaired(u"/a//b\\\\c", KaPath::CheckAndRepairLocalPath), "1 /a/b\\c"},
      {Repaired(u"/a/b\\c", KaPath::CheckAndRepairLocalPath), "0 /a/b\\c"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

#if !defined(_WIN32)
// The special folders as Linux gives them: TMPDIR and /proc/self/exe.
using wardex::test::SetOrUnsetEnv;

TEST(KaPathTest, TempFolder) {
  const std::tuple<const char*, Text16, const char*> cases[] = {
      {nullptr, nullptr, "/tmp/"},        {"", nullptr, "/tmp/"},
      {"/var/tmp", nullptr, "/var/tmp/"}, {"/var/tmp/", u"wardex", "/var/tmp/wardex/"},
      {nullptr, u"a/b", "/tmp/a/b/"},
  };
  const char* const old = getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  for (const auto& [tmpdir, sub_dir, expected] : cases) {
    SetOrUnsetEnv("TMPDIR", tmpdir);
    const KaPath temp(KaPath::eSpecialFolderTemp, sub_dir);
    EXPECT_EQ(U8(temp), expected) << (tmpdir ? tmpdir : "(unset)");
  }
  SetOrUnsetEnv("TMPDIR", "/var/tmp");
  EXPECT_TRUE(KaPath(u"/var/tmp").IsSpecialFolder(KaPath::eSpecialFolderTemp));
  EXPECT_FALSE(KaPath(u"/var").IsSpecialFolder(KaPath::eSpecialFolderTemp));
  SetOrUnsetEnv("TMPDIR", old != nullptr ? saved.c_str() : nullptr);
}

TEST(KaPathTest, ExecutableFolderAndPath) {
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string folder = exe.substr(0, exe.rfind('/') + 1);
  EXPECT_EQ(U8(KaPath(KaPath::eSpecialFolderExecutablePath)), exe);
  EXPECT_EQ(U8(KaPath(KaPath::eSpecialFolderExecutableDir)), folder);
  EXPECT_EQ(U8(KaPath(KaPath::eSpecialFolderExecutableDir, u"modules")), folder + "modules/");
  EXPECT_TRUE(KaPath(static_cast<KaPath::ESpecialFolders>(5)).IsEmpty());
}
#endif

}  // namespace
}  // namespace KaOSAL
