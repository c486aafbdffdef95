#include "platform/profile.h"

#if defined(_WIN32)
#include "platform/windows_api.h"
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "support/test_env.h"

namespace wardex::platform {
namespace {

std::u16string Wide(const std::string& text) { return KaOSAL::FromUtf8(text); }

class ProfileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return root_.path() + "/" + name; }
  std::u16string File(const std::string& name) const { return Wide(Path(name)); }

  // Reads with a buffer of |size| characters: the returned length and the
  // buffer up to it plus the terminator(s).
  std::pair<uint32_t, std::u16string> Read(const char16_t* section, const char16_t* key,
                                           uint32_t size, const std::string& name,
                                           const char16_t* fallback = u"fallback") {
    std::u16string buffer(size, u'#');
    uint32_t length =
        GetPrivateProfileString(section, key, fallback, buffer.data(), size, File(name).c_str());
    return {length, buffer};
  }
  // The value as read with room for 63 characters.
  std::u16string Value(const char16_t* section, const char16_t* key, const std::string& name,
                       const char16_t* fallback = u"fallback") {
    auto [length, buffer] = Read(section, key, 64, name, fallback);
    return buffer.substr(0, length);
  }

  test::ScopedTestRoot root_;
};

// Values and name lists that fill or overflow the buffer: a value that fills
// it and one that is cut both answer size - 1.
TEST_F(ProfileTest, LengthsAtTheBufferBoundary) {
  const std::string a253 = "a" + std::string(252, 'v'), a254 = a253 + "v";  // a wrong cut shows
  ASSERT_TRUE(test::WriteFile(
      Path("l.ini"), "[ab]\nk1=1\nkey2=2\nempty=\nv253=" + a253 + "\nv254=" + a254 + "\n[cd]\n"));
  // A null section asks for the section list, a null key for the section's keys.
  const std::tuple<const char16_t*, const char16_t*, uint32_t, uint32_t, std::u16string> cases[] = {
      {u"ab", u"empty", 255, 0, std::u16string(u"\0", 1)},
      {u"ab", u"v253", 255, 253, Wide(a253) + u'\0'},
      {u"ab", u"v254", 255, 254, Wide(a254) + u'\0'},
      {u"ab", u"v254", 254, 253, Wide(a253) + u'\0'},
      // "ab\0cd\0\0" needs 7 characters.
      {nullptr, nullptr, 8, 6, std::u16string(u"ab\0cd\0\0", 7)},
      {nullptr, nullptr, 7, 6, std::u16string(u"ab\0cd\0\0", 7)},
      {nullptr, nullptr, 6, 4, std::u16string(u"ab\0c\0\0", 6)},
      {nullptr, nullptr, 2, 0, std::u16string(u"\0\0", 2)},
      // "k1\0key2\0empty\0v253\0v254\0\0" needs 25.
      {u"AB", nullptr, 25, 24, std::u16string(u"k1\0key2\0empty\0v253\0v254\0\0", 25)},
      {u"AB", nullptr, 24, 22, std::u16string(u"k1\0key2\0empty\0v253\0v25\0\0", 24)},
      {u"cd", nullptr, 4, 0, std::u16string(u"\0\0", 2)},
      {u"missing", nullptr, 4, 0, std::u16string(u"\0\0", 2)},
  };
  for (const auto& [section, key, size, expected, contents] : cases) {
    auto [length, buffer] = Read(section, key, size, "l.ini");
    EXPECT_EQ(length, expected) << size;
    EXPECT_EQ(buffer.substr(0, contents.size()), contents) << size;
  }
}

TEST_F(ProfileTest, NamesMatchWithoutCaseAndValuesLoseBlanksAndQuotes) {
  ASSERT_TRUE(test::WriteFile(Path("c.ini"),
                              "; comment = not a key\n"
                              "[Install]\n"
                              "  Language  =  de_DE  \n"
                              "Quoted=\"  spaced  \"\n"
                              "Single='x'\n"
                              "Mixed=\"x'\n"
                              "Empty=\n"
                              "NoEquals\n"
                              "[ÜBER]\n"
                              "Größe=groß\n"));
  const std::tuple<const char16_t*, const char16_t*, std::u16string> cases[] = {
      {u"install", u"language", u"de_DE"},    {u"INSTALL", u"LANGUAGE", u"de_DE"},
      {u"install", u"quoted", u"  spaced  "}, {u"install", u"single", u"x"},
      {u"install", u"mixed", u"\"x'"},        {u"install", u"empty", u""},
      {u"install", u"noequals", u"fallback"}, {u"install", u"; comment", u"fallback"},
      {u"über", u"GRÖSSE", u"fallback"},      {u"über", u"größe", u"groß"},
      {u"Über", u"GRÖßE", u"groß"},           {u"other", u"language", u"fallback"},
  };
  for (const auto& [section, key, expected] : cases) {
    EXPECT_EQ(Value(section, key, "c.ini"), expected) << KaOSAL::ToUtf8(key);
  }
  // Trailing blanks of the default are dropped; a missing file gives it too.
  EXPECT_EQ(Value(u"s", u"k", "absent.ini", u"def  "), u"def");
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorFileNotFound);
}

TEST_F(ProfileTest, WritesKeepTheRestOfTheFile) {
  const std::string original =
      "; installer settings\r\n"
      "[install]\r\n"
      "Language=en_II\r\n"
      "  # odd line kept as written\r\n"
      "RegKey = Brisko\r\n"
      "\r\n"
      "[web]\r\n"
      "newsfeedURL=https://127.0.0.1/feed\r\n";
  ASSERT_TRUE(test::WriteFile(Path("w.ini"), original));
  const std::u16string file = File("w.ini");
  EXPECT_EQ(WritePrivateProfileString(u"INSTALL", u"language", u"de_DE", file.c_str()), 1);
  EXPECT_EQ(WritePrivateProfileString(u"install", u"OSLang", u"1", file.c_str()), 1);
  EXPECT_EQ(WritePrivateProfileString(u"ipc", u"ServiceChannelName", u"chan", file.c_str()), 1);
  EXPECT_EQ(WritePrivateProfileString(u"web", u"newsfeedURL", nullptr, file.c_str()), 1);
  EXPECT_EQ(WritePrivateProfileString(u"web", u"absent", nullptr, file.c_str()), 1);
  EXPECT_EQ(test::ReadFile(Path("w.ini")),
            "; installer settings\r\n"
            "[install]\r\n"
            "Language=de_DE\r\n"
            "  # odd line kept as written\r\n"
            "RegKey = Brisko\r\n"
            "OSLang=1\r\n"
            "\r\n"
            "[web]\r\n"
            "[ipc]\r\n"
            "ServiceChannelName=chan\r\n");
  EXPECT_EQ(WritePrivateProfileString(u"Web", nullptr, nullptr, file.c_str()), 1);
  EXPECT_EQ(test::ReadFile(Path("w.ini")).find("[web]"), std::string::npos);
  // No temporary file is left beside it.
  for (const auto& entry : std::filesystem::directory_iterator(root_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

TEST_F(ProfileTest, LinesAWriteDoesNotChangeKeepTheirBytes) {
  const std::tuple<std::string, const char16_t*, const char16_t*, std::string> cases[] = {
      // An installer's ANSI line in a file read as UTF-8.
      {"[install]\r\nProductName=Brisko f\xfcr Profis\r\nLanguage=en_II\r\n", u"Language", u"de_DE",
       "[install]\r\nProductName=Brisko f\xfcr Profis\r\nLanguage=de_DE\r\n"},
      {"\xEF\xBB\xBF; \x80\xFF\n[install]\nA=1\n", u"A", u"2",
       "\xEF\xBB\xBF; \x80\xFF\n[install]\nA=2\n"},
      // Mixed line endings stay; a last line without one gets one when a line follows.
      {"[install]\nA=1\r\nB=2", u"C", u"3", "[install]\nA=1\r\nB=2\r\nC=3"},
      // The value it already has: the line is left as written.
      {"[install]\nLanguage = \"de_DE\"\n", u"language", u"de_DE",
       "[install]\nLanguage = \"de_DE\"\n"},
      // Blanks around a key are not part of its name.
      {"[install]\nLanguage=en_II\n", u" Language ", u"de_DE", "[install]\nLanguage=de_DE\n"},
  };
  for (const auto& [original, key, value, expected] : cases) {
    ASSERT_TRUE(test::WriteFile(Path("b.ini"), original));
    EXPECT_EQ(WritePrivateProfileString(u"install", key, value, File("b.ini").c_str()), 1);
    EXPECT_EQ(test::ReadFile(Path("b.ini")), expected) << original;
  }
}

TEST_F(ProfileTest, WritesThatWouldReadBackAsSomethingElseAreRefused) {
  const std::string original = "[install]\nLanguage=en_II\n";
  const std::tuple<const char16_t*, const char16_t*, const char16_t*> cases[] = {
      {u"install", u"Language\nOSLang", u"1"},
      {u"install", u"Language", u"de\r\n[web]"},
      {u"install]", u"Language", u"de_DE"},
      {u"install", u"; Language", u"de_DE"},
      {u"install", u"[web]", u"x"},
      {u"install", u" ", u"x"},
  };
  for (const auto& [section, key, value] : cases) {
    ASSERT_TRUE(test::WriteFile(Path("r.ini"), original));
    EXPECT_EQ(WritePrivateProfileString(section, key, value, File("r.ini").c_str()), 0)
        << KaOSAL::ToUtf8(key);
    EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidParameter);
    EXPECT_EQ(test::ReadFile(Path("r.ini")), original);
  }
}

#if !defined(_WIN32)
TEST_F(ProfileTest, AWriteThroughALinkReplacesItsTargetAndKeepsTheLink) {
  ASSERT_TRUE(test::WriteFile(Path("shared/install.cfg"), "[install]\nLanguage=en_II\n"));
  std::filesystem::create_directories(Path("bin"));
  std::filesystem::create_symlink("../shared/install.cfg", Path("bin/install.cfg"));
  EXPECT_EQ(
      WritePrivateProfileString(u"install", u"Language", u"de_DE", File("bin/install.cfg").c_str()),
      1);
  EXPECT_TRUE(std::filesystem::is_symlink(Path("bin/install.cfg")));
  EXPECT_EQ(test::ReadFile(Path("shared/install.cfg")), "[install]\nLanguage=de_DE\n");
  for (const char* folder : {"bin", "shared"}) {
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path(folder)), {}), 1) << folder;
  }
}
#endif

TEST_F(ProfileTest, FilesAreWrittenBackInTheirEncoding) {
  const std::string german = "[general]\nIDS_X=Übersicht öffnen\n";
  const std::u16string wide = Wide(german);  // little-endian, as the machines are
  const std::string utf16 = "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()),
                                                     wide.size() * sizeof(char16_t));
  // prefix: what the file must still start with after a write
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"plain.ini", german, "[general]"},
      {"bom.ini", "\xEF\xBB\xBF" + german, "\xEF\xBB\xBF[general]"},
      {"wide.ini", utf16, std::string("\xFF\xFE[\0g\0", 6)},
  };
  for (const auto& [name, content, prefix] : cases) {
    ASSERT_TRUE(test::WriteFile(Path(name), content));
    EXPECT_EQ(Value(u"GENERAL", u"ids_x", name), u"Übersicht öffnen") << name;
    ASSERT_EQ(WritePrivateProfileString(u"general", u"IDS_Y", u"Schließen", File(name).c_str()), 1);
    EXPECT_EQ(test::ReadFile(Path(name)).substr(0, prefix.size()), prefix) << name;
    EXPECT_EQ(Value(u"general", u"IDS_Y", name), u"Schließen") << name;
    EXPECT_EQ(Value(u"general", u"IDS_X", name), u"Übersicht öffnen") << name;
  }
  // A new file is UTF-8 without a mark.
  ASSERT_EQ(WritePrivateProfileString(u"s", u"k", u"ä", File("new.ini").c_str()), 1);
  EXPECT_EQ(test::ReadFile(Path("new.ini")), "[s]\nk=ä\n");
}

TEST_F(ProfileTest, ConcurrentWritersLoseNothing) {
  const int kWrites = test::Scaled(100, 20);
  const std::u16string file = File("shared.ini");
  const std::string probe = test::HelperProgram("process_probe"), count = std::to_string(kWrites);
  test::ChildProgram w0(probe, {"write-profile", Path("shared.ini"), "w0", count});
  test::ChildProgram w1(probe, {"write-profile", Path("shared.ini"), "w1", count});
  EXPECT_EQ(w0.Wait(), 0);
  EXPECT_EQ(w1.Wait(), 0);
  std::u16string keys(100000, u'\0');
  uint32_t length = GetPrivateProfileString(u"s", nullptr, u"", keys.data(), 100000, file.c_str());
  EXPECT_EQ(std::count(keys.begin(), keys.begin() + length, u'\0'), 2 * kWrites);
}

#if defined(_WIN32)
TEST_F(ProfileTest, AReadOnlyFileFailsWithAccessDenied) {
  // Wine lets every user write every folder: a read-only file is what a
  // write may be refused on there.
  ASSERT_TRUE(test::WriteFile(Path("ro/install.cfg"), "[install]\nLanguage=de_DE\n"));
  const std::wstring wide_path = std::filesystem::path(Path("ro/install.cfg")).wstring();
  ASSERT_TRUE(SetFileAttributesW(wide_path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(
      WritePrivateProfileString(u"install", u"Language", u"fr_FR", File("ro/install.cfg").c_str()),
      0);
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorAccessDenied);
  SetFileAttributesW(wide_path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(test::ReadFile(Path("ro/install.cfg")), "[install]\nLanguage=de_DE\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path("ro")), {}), 1)
      << "no temporary file is left";
}
#else
TEST_F(ProfileTest, AFileTheUserMayNotWriteFailsWithAccessDeniedAndStaysWhole) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  // A folder the user may write lets a rename replace the file: the file's
  // own mode must still decide.
  for (mode_t folder_mode : {0755, 0777}) {
    SCOPED_TRACE(folder_mode);
    ASSERT_TRUE(test::WriteFile(Path("ro/install.cfg"), "[install]\nLanguage=de_DE\n"));
    chmod(Path("ro/install.cfg").c_str(), 0644);
    chmod(Path("ro").c_str(), folder_mode);
    const std::u16string file = File("ro/install.cfg");
    int status = test::RunAsUnprivileged([&] {
      char16_t buffer[32];
      if (GetPrivateProfileString(u"install", u"Language", u"", buffer, 32, file.c_str()) != 5) {
        return 10;
      }
      if (WritePrivateProfileString(u"install", u"Language", u"fr_FR", file.c_str()) != 0)
        return 11;
      return KaOSAL::GetLastError() == KaOSAL::kErrorAccessDenied ? 0 : 12;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::ReadFile(Path("ro/install.cfg")), "[install]\nLanguage=de_DE\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Path("ro")), {}), 1);
  }
}
#endif

}  // namespace
}  // namespace wardex::platform
