#include "osal/ka_path.h"

#include <gtest/gtest.h>

#include <string>

#include "osal/wide_format.h"

namespace KaOSAL {
namespace {

std::string U8(const char16_t* text) { return ToUtf8(std::u16string(text)); }

using Type = KaPath::EPathType;

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
    EXPECT_EQ(U8(path), U8(c.full ? c.full : c.path));
    EXPECT_EQ(U8(path.GetRoot()), U8(c.root));
    EXPECT_EQ(U8(path.GetDir()), U8(c.dir));
    EXPECT_EQ(U8(path.GetFileName()), U8(c.name));
    EXPECT_EQ(U8(path.GetExt()), U8(c.ext));
    EXPECT_EQ(path.GetPathType(), c.type);
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

struct SetCase {
  const char16_t* start;
  bool (KaPath::*set)(const KaString&);
  const char16_t* arg;
  bool ok;
  const char16_t* expected;
};

TEST(KaPathTest, SettersReplaceOneComponent) {
  const SetCase cases[] = {
      {u"C:\\a\\old.txt", &KaPath::SetFileNameAndExt, u"archive.tar.gz", true,
       u"C:\\a\\archive.tar.gz"},
      {u"C:\\a\\old.txt", &KaPath::SetFileNameAndExt, u"README", true, u"C:\\a\\README"},
      {u"C:\\a\\x.txt", &KaPath::SetFileName, u"", true, u"C:\\a\\"},
      {u"/usr/lib/x.so", &KaPath::SetFileName, u"y", true, u"/usr/lib/y.so"},
      {u"/etc/x.cfg", &KaPath::SetExt, u"conf", true, u"/etc/x.conf"},
      {u"/etc/x.cfg", &KaPath::SetExt, u"", true, u"/etc/x"},
  };
  for (const SetCase& c : cases) {
    SCOPED_TRACE(U8(c.start) + " <- " + U8(c.arg));
    KaPath path(c.start);
    EXPECT_EQ((path.*c.set)(KaString(c.arg)), c.ok);
    EXPECT_EQ(U8(path), U8(c.expected));
  }
}

struct AppendCase {
  const char16_t* start;
  KaPath other;
  bool ok;
  const char16_t* expected;
};

TEST(KaPathTest, AppendDirTakesOnlyFoldersWithoutARoot) {
  // The joined dir "<dir>./<other>/" must stay below 4096 characters.
  const std::u16string fits = u"/" + std::u16string(3990, u'd') + u"/";
  const std::u16string too_long = u"/" + std::u16string(3991, u'd') + u"/";
  const std::u16string hundred = std::u16string(100, u'e') + u"/";
  const std::u16string fits_result = fits + hundred;
  const AppendCase cases[] = {
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
  for (const AppendCase& c : cases) {
    SCOPED_TRACE(U8(c.start).substr(0, 40) + " + " + U8(c.other));
    KaPath path(c.start);
    EXPECT_EQ(path.AppendDir(c.other), c.ok);
    EXPECT_EQ(U8(path), U8(c.expected));
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

struct ParentCase {
  const char16_t* start;
  bool ok;
  const char16_t* expected;
  const char16_t* dir;
};

TEST(KaPathTest, GotoParentClimbsOneFolder) {
  const ParentCase cases[] = {
      {u"C:\\", false, u"C:\\", u"\\"},
      {u"C:\\a\\b\\", true, u"C:\\a\\", u"\\a\\"},
      {u"/usr/lib/x.so", true, u"/usr/x.so", u"/usr/"},
      {u"/a/", true, u"/", u"/"},
      {u"/", false, u"/", u"/"},
      {u"", false, u"", u""},
      {u"../", true, u"../../", u"../../"},
      {u"\\\\srv\\sh\\d\\f.txt", true, u"\\\\srv\\sh\\f.txt", u"\\"},
  };
  for (const ParentCase& c : cases) {
    SCOPED_TRACE(U8(c.start));
    KaPath path(c.start);
    EXPECT_EQ(path.GotoParent(), c.ok);
    EXPECT_EQ(U8(path), U8(c.expected));
    EXPECT_EQ(U8(path.GetDir()), U8(c.dir));
  }
}

TEST(KaPathTest, ComparisonIgnoresCaseOnlyForWindowsShapes) {
  EXPECT_TRUE(KaPath(u"C:\\A\\x.TXT") == u"c:/a/X.txt");
  EXPECT_TRUE(KaPath(u"\\\\Srv\\Share") == KaPath(u"\\\\srv\\share"));
  EXPECT_TRUE(KaPath(u"/A/b") != KaString(u"/a/b"));
  EXPECT_TRUE(KaPath(u"/a/b") == u"/a/b");
}

}  // namespace
}  // namespace KaOSAL
