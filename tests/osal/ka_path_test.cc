#include "osal/ka_path.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#endif
#include <string>
#include <tuple>

#include "osal/wide_format.h"
#if !defined(_WIN32)
#include "crashlog/log_test_util.h"
#endif

namespace KaOSAL {
namespace {

std::string U8(const char16_t* text) { return ToUtf8(std::u16string(text)); }

using Type = KaPath::EPathType;
using Text16 = const char16_t*;  // a table cell

struct SplitCase {
  const char16_t* path;
  const char16_t* full;  // after assignment
  const char16_t* root;
  const char16_t* dir;
  const char16_t* name;
  const char16_t* ext;
  Type type;
};

TEST(KaPathTest, SplitsEveryForm) {
  const SplitCase cases[] = {
      {u"c:", u"c:\\", u"c:", u"\\", u"", u"", KaPath::ePathTypeLocal},
      {u"C:\\dir\\\\sub\\file.txt", nullptr, u"C:", u"\\dir\\sub\\", u"file", u".txt",
       KaPath::ePathTypeLocal},
      {u"C:file.txt", nullptr, u"C:", u"\\", u"file", u".txt", KaPath::ePathTypeLocal},
      {u"C://x", nullptr, u"C:", u"/", u"x", u"", KaPath::ePathTypeLocal},
      {u"\\\\server\\share", nullptr, u"\\\\server\\share", u"\\", u"", u"", KaPath::ePathTypeUNC},
      {u"\\\\server", nullptr, u"\\\\server", u"", u"", u"", KaPath::ePathTypeUNC},
      {u"\\\\srv\\sh\\d\\\\e\\f.txt", nullptr, u"\\\\srv\\sh", u"\\d\\e\\", u"f", u".txt",
       KaPath::ePathTypeUNC},
      {u"http://host/a/b/page.html", nullptr, u"http://host", u"/a/b/", u"page", u".html",
       KaPath::ePathTypeURL},
      {u"https://host/a.b/file", nullptr, u"https://host", u"/a.b/", u"file", u"",
       KaPath::ePathTypeURL},
      {u"/usr/lib/x.so", nullptr, u"", u"/usr/lib/", u"x", u".so", KaPath::ePathTypeLocal},
      {u"//usr///lib//x.so", nullptr, u"", u"/usr/lib/", u"x", u".so", KaPath::ePathTypeLocal},
      {u"/", nullptr, u"", u"/", u"", u"", KaPath::ePathTypeLocal},
      {u"/home/u/.bashrc", nullptr, u"", u"/home/u/", u"", u".bashrc", KaPath::ePathTypeLocal},
      {u"\\a\\b.txt", nullptr, u"", u"\\a\\", u"b", u".txt", KaPath::ePathTypeNone},
      {u"a/b\\c.tar.gz", nullptr, u"", u"a/b\\", u"c.tar", u".gz", KaPath::ePathTypeRelative},
      {u"README", nullptr, u"", u"", u"README", u"", KaPath::ePathTypeRelative},
      {u"", nullptr, u"", u"", u"", u"", KaPath::ePathTypeNone},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(U8(c.path));
    const KaPath path(c.path);
    const auto joined = [](auto&&... parts) { return ((U8(parts) + "|") + ...); };
    const std::string expected = joined(c.root, c.dir, c.name, c.ext);
    EXPECT_EQ(U8(path), U8(c.full ? c.full : c.path));
    EXPECT_EQ(joined(path.GetRoot(), path.GetDir(), path.GetFileName(), path.GetExt()), expected);
    EXPECT_EQ(path.GetPathType(), c.type);
    EXPECT_EQ(path.IsRelative(), c.type == KaPath::ePathTypeRelative);
    EXPECT_EQ(path.IsFullPath(), c.type >= KaPath::ePathTypeLocal);
    // SplitPath on a fresh path splits all four at once.
    KaString root, dir, name, ext;
    EXPECT_TRUE(KaPath(c.path).SplitPath(root, dir, name, ext));
    EXPECT_EQ(joined(root, dir, name, ext), expected);
  }
}

TEST(KaPathTest, AssignmentDropsTheComponentsOfThePreviousPath) {
  KaPath path(u"C:\\a\\b.txt");
  ASSERT_EQ(U8(path.GetFileName()), "b");
  path = u"/x/y.so";
  EXPECT_EQ(U8(path.GetRoot()), "");
  EXPECT_EQ(U8(path.GetFileName()), "y");
  const KaPath copy(path);
  path = KaString(u"other");
  EXPECT_EQ(U8(copy.GetDir()), "/x/");
  EXPECT_EQ(U8(path.GetDir()), "");
  const KaPath lib(u"/usr/lib/x.so");
  EXPECT_EQ(U8(lib.GetPathWithoutExtension()), "/usr/lib/x");
  EXPECT_EQ(U8(lib.GetDirLastComponent()), "lib");
  EXPECT_EQ(U8(KaPath(u"C:\\a\\b.c").GetPathWithoutRoot()), "\\a\\b.c");
  EXPECT_EQ(U8(KaPath(u"C:").GetRootAndDir()), "C:\\");
}

TEST(KaPathTest, AssigningOneOfItsOwnComponentsKeepsThatText) {
  const struct {
    const char16_t* start;
    const KaString& (KaPath::*component)() const;
    const char16_t* expected;
  } cases[] = {
      {u"/usr/lib/x.so", &KaPath::GetDir, u"/usr/lib/"},
      {u"/usr/lib/x.so", &KaPath::GetFileName, u"x"},
      {u"/usr/lib/x.so", &KaPath::GetExt, u".so"},
      {u"C:\\a\\x.txt", &KaPath::GetRoot, u"C:\\"},
  };
  for (const auto& c : cases) {
    KaPath path(c.start);
    path = (path.*c.component)();
    EXPECT_EQ(U8(path), U8(c.expected)) << U8(c.start);
  }
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
  EXPECT_EQ(path.assignments, 3);
  EXPECT_EQ(U8(path), "/a/c.log");
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

TEST(KaPathTest, SettersReplaceOneComponent) {
  const std::tuple<Text16, bool (KaPath::*)(const KaString&), Text16, bool, Text16> cases[] = {
      {u"C:\\a\\old.txt", &KaPath::SetFileNameAndExt, u"archive.tar.gz", true,
       u"C:\\a\\archive.tar.gz"},
      {u"C:\\a\\old.txt", &KaPath::SetFileNameAndExt, u"README", true, u"C:\\a\\README"},
      {u"C:\\a\\x.txt", &KaPath::SetFileName, u"", true, u"C:\\a\\"},
      {u"/usr/lib/x.so", &KaPath::SetFileName, u"y", true, u"/usr/lib/y.so"},
      {u"/etc/x.cfg", &KaPath::SetExt, u"conf", true, u"/etc/x.conf"},
      {u"/etc/x.cfg", &KaPath::SetExt, u"", true, u"/etc/x"},
      {u"/usr/lib/x.so", &KaPath::SetDir, u"/opt/app", true, u"/opt/app/x.so"},
      {u"C:\\a\\x.txt", &KaPath::SetRoot, u"D", true, u"D:\\a\\x.txt"},
      {u"/a/b/x", &KaPath::SetDirLastComponent, u"z", true, u"/a/z/x"},
      {u"x", &KaPath::SetDirLastComponent, u"z", false, u"x"},
      {u"/a/b/x", &KaPath::SetDirLastComponent, u"y/z", false, u"/a/b/x"},
      {u"/a/b/x.txt", &KaPath::SetRootAndDir, u"/srv/data", true, u"/srv/data/x.txt"},
      {u"/a/b/x.txt", &KaPath::SetRootAndDir, u"E:\\d", true, u"E:\\d\\x.txt"},
  };
  for (const auto& [start, set, arg, ok, expected] : cases) {
    SCOPED_TRACE(U8(start) + " <- " + U8(arg));
    KaPath path(start);
    EXPECT_EQ((path.*set)(KaString(arg)), ok);
    EXPECT_EQ(U8(path), U8(expected));
  }
}

TEST(KaPathTest, AppendDirTakesOnlyFoldersWithoutARoot) {
  // The joined dir "<dir>./<other>/" must stay below 4096 characters.
  const std::u16string fits = u"/" + std::u16string(3990, u'd') + u"/";
  const std::u16string too_long = u"/" + std::u16string(3991, u'd') + u"/";
  const std::u16string hundred = std::u16string(100, u'e') + u"/";
  const std::u16string fits_result = fits + hundred;
  const std::tuple<Text16, KaPath, bool, Text16> cases[] = {
      {u"C:\\a\\file.txt", KaPath(u"sub/"), true, u"C:\\a\\sub\\file.txt"},
      {u"C:\\a\\", KaPath(u"b\\c\\"), true, u"C:\\a\\b\\c\\"},
      {u"/usr/lib/x.so", KaPath(u"a/../b/"), true, u"/usr/lib/b/x.so"},
      {u"/tmp/", KaPath(u"../../../"), true, u"/"},
      {u"rel/", KaPath(u"sub/"), true, u"rel/sub/"},
      {u"C:\\a\\file.txt", KaPath(u"C:\\abs\\"), false, u"C:\\a\\file.txt"},
      {u"C:\\a\\file.txt", KaPath(u"sub\\file.txt"), false, u"C:\\a\\file.txt"},
      {u"/usr/lib/", KaPath(u"/abs/"), false, u"/usr/lib/"},
      {u"/usr/lib/", KaPath(u"http://host/x/"), false, u"/usr/lib/"},
      {u"C:\\a\\.\\file.txt", KaPath(), true, u"C:\\a\\file.txt"},
      // A leading backslash is no root: only "/" makes a rootless path absolute.
      {u"C:\\a\\", KaPath(u"\\b\\"), true, u"C:\\a\\b\\"},
      {u"/usr/lib/x.so", KaPath(u"\\b\\c\\"), true, u"/usr/lib/b/c/x.so"},
      {u"C:\\a\\", KaPath(u"\\\\srv\\sh"), false, u"C:\\a\\"},
      {fits.c_str(), KaPath(hundred.c_str()), true, fits_result.c_str()},
      {too_long.c_str(), KaPath(hundred.c_str()), false, too_long.c_str()},
  };
  for (const auto& [start, other, ok, expected] : cases) {
    SCOPED_TRACE(U8(start).substr(0, 40) + " + " + U8(other));
    KaPath path(start);
    EXPECT_EQ(path.AppendDir(other), ok);
    EXPECT_EQ(U8(path), U8(expected));
  }
  // From text, the whole text is the folder to append.
  const struct {
    const char16_t *start, *dir;
    bool ok;
    const char16_t* expected;
  } text_cases[] = {
      {u"C:\\a\\file.txt", u"sub", true, u"C:\\a\\sub\\file.txt"},
      {u"/usr/lib/x.so", u"sub", true, u"/usr/lib/sub/x.so"},
      {u"/usr/lib/x.so", u"sub/file.txt", true, u"/usr/lib/sub/file.txt/x.so"},
      {u"/usr/lib/x.so", u"/abs", false, u"/usr/lib/x.so"},
      {u"C:\\a\\file.txt", u"\\sub", true, u"C:\\a\\sub\\file.txt"},
      {u"C:\\a\\file.txt", u"D:\\b", false, u"C:\\a\\file.txt"},
      {u"/a/./b/x.so", u"", true, u"/a/b/x.so"},
  };
  for (const auto& c : text_cases) {
    KaPath path(c.start);
    EXPECT_EQ(path.AppendDir(KaString(c.dir)), c.ok) << U8(c.dir);
    EXPECT_EQ(U8(path), U8(c.expected));
  }
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
    EXPECT_EQ(U8(path), U8(expected));
    EXPECT_EQ(U8(path.GetDir()), U8(dir));
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

TEST(KaPathTest, DriveNumbersAndRoots) {
  const std::pair<const char16_t*, int> cases[] = {
      {u"C:", 2},    {u"c", 2},   {u"z:", 25},   {u"A", 0},  {u"", -1},
      {u"C:\\", -1}, {u"1:", -1}, {u"\\\\", -1}, {u"/", -1}, {u"http://h", -1}};
  for (const auto& [root, drive] : cases) {
    EXPECT_EQ(KaPath::GetDriveNumberFromRoot(root), drive) << U8(root);
  }
  EXPECT_EQ(U8(KaPath::GetRootFromDriveNumber(0)), "A:");
  EXPECT_EQ(U8(KaPath::GetRootFromDriveNumber(25)), "Z:");
  EXPECT_EQ(U8(KaPath::GetRootFromDriveNumber(26)), "");
  EXPECT_EQ(U8(KaPath::GetRootFromDriveNumber(-1)), "");
  const KaPath drive(static_cast<KaPath::EDriveNumber>(3));
  EXPECT_EQ(U8(drive), "D:\\");
  EXPECT_EQ(drive.GetDriveNumber(), 3);
  EXPECT_TRUE(KaPath(static_cast<KaPath::EDriveNumber>(26)).IsEmpty());
}

TEST(KaPathTest, Queries) {
  const struct {
    const char16_t* path;
    bool root, server, server_share, file, directory, network;
  } cases[] = {
      {u"C:\\", true, false, false, false, true, false},
      {u"/", true, false, false, false, true, false},
      {u"/usr/", false, false, false, false, true, false},
      {u"/usr/x", false, false, false, true, false, false},
      {u"\\\\srv", true, true, false, false, true, true},
      {u"\\\\srv\\share", true, false, true, false, true, true},
      {u"\\\\srv\\share\\d\\", false, false, false, false, true, true},
      {u"http://h/p.html", false, false, false, true, false, true},
      {u"", false, false, false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.path));
    const KaPath path(c.path);
    EXPECT_EQ(path.IsRoot(), c.root);
    EXPECT_EQ(path.IsUNCServer(), c.server);
    EXPECT_EQ(path.IsUNCServerShare(), c.server_share);
    EXPECT_EQ(path.IsFile(), c.file);
    EXPECT_EQ(path.IsDirectory(), c.directory);
    EXPECT_EQ(path.IsNetwork(), c.network);
  }
}

TEST(KaPathTest, ComparisonIgnoresCaseOnlyForWindowsShapes) {
  EXPECT_TRUE(KaPath(u"C:\\A\\x.TXT") == u"c:/a/X.txt");
  EXPECT_TRUE(KaPath(u"\\\\Srv\\Share") == KaPath(u"\\\\srv\\share"));
  EXPECT_TRUE(KaPath(u"/A/b") != KaString(u"/a/b"));
  EXPECT_TRUE(KaPath(u"/a/b") == u"/a/b");
}

TEST(KaPathTest, CorrectsANameComponentForTheFileSystem) {
  KaString component(u"a/b\\c\x01");
  EXPECT_TRUE(KaPath::CorrectPathComponentForFileSystem(component));
  EXPECT_EQ(U8(component), "a_b_c_");
  KaString parent(u"..");
  EXPECT_TRUE(KaPath::CorrectPathComponentForFileSystem(parent));
  EXPECT_EQ(U8(parent), "__");
}

TEST(KaPathTest, SeparatorHelpersKeepTheStyle) {
  KaString text(u"C:\\a\\\\");
  KaPath::RemoveTrailingPathSeparator(text);
  EXPECT_EQ(U8(text), "C:\\a");
  KaPath::VerifyTrailingPathSeparator(text);
  EXPECT_EQ(U8(text), "C:\\a\\");
  KaString root(u"C:\\");
  KaPath::RemoveTrailingPathSeparator(root);
  EXPECT_EQ(U8(root), "C:\\");
  KaString slash(u"//");
  KaPath::RemoveTrailingPathSeparator(slash);
  EXPECT_EQ(U8(slash), "/");
  KaString rel(u"usr/lib");
  KaPath::VerifyLeadingPathSeparator(rel);
  EXPECT_EQ(U8(rel), "/usr/lib");
  KaString ext(u"txt");
  KaPath::VerifyLeadingPeriod(ext);
  EXPECT_EQ(U8(ext), ".txt");
  KaString doubled(u"/a//b\\\\c");
  EXPECT_TRUE(KaPath::CheckAndRepairLocalPath(doubled));
  EXPECT_EQ(U8(doubled), "/a/b\\c");
  EXPECT_FALSE(KaPath::CheckAndRepairLocalPath(doubled));
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
#endif

}  // namespace
}  // namespace KaOSAL
