#if !defined(_WIN32)
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "config/languages.h"
#include "config/os_language.h"
#include "config/profile_string.h"
#include "config/registry.h"
#include "crashlog/log_test_util.h"
#include "osal/wide_format.h"
#include "platform/command_line.h"
#include "platform/registry_store.h"
#include "platform/system_paths.h"
#if !defined(_WIN32)
#include "platform/system_paths_linux.h"
#endif
#include "support/test_env.h"

namespace wardex {
namespace {

using KaOSAL::KaString;

std::string Narrow(const KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}
KaString Wide(const std::string& text) { return KaString(text.c_str(), KaOSAL::KA_CP_UTF8); }

using test::SystemPath;

#if defined(_WIN32)
constexpr char kProgram[] = "wardex.exe";
constexpr int kMissingFolderError = 3;  // ERROR_PATH_NOT_FOUND
#else
constexpr char kProgram[] = "wardex";
constexpr int kMissingFolderError = 2;  // ENOENT's
#endif

// An installation tree below the test's own folder with the probe program as
// its executable: <tmp>/a/b/bin/wardex.
class StagedInstall : public ::testing::Test {
 protected:
  StagedInstall() {
    std::filesystem::create_directories(bin());
    test::CopyProgram(CONFIG_PROBE_PATH, program());
    root_.Set("WARDEX_LOG_FILE", log());
    root_.Set("LC_ALL", "");
    root_.Set("LC_MESSAGES", "");
    root_.Set("LANG", "C");
  }

  std::string top() const { return root_.path() + "/a"; }
  std::string base() const { return top() + "/b"; }
  std::string bin() const { return base() + "/bin"; }
  std::string program() const { return bin() + "/" + kProgram; }
  std::string log() const { return root_.path() + "/wardex.log"; }

  // Runs the probe with the space-separated |words| and |whole| as one more
  // argument, if any; returns its output without the last newline.
  std::string Run(const std::string& words, const std::string& whole = "") const {
    std::vector<std::string> args;
    for (const KaString& word : platform::SplitCommandLine(Wide(words)))
      args.push_back(Narrow(word));
    if (!whole.empty()) args.push_back(whole);
    const std::string out = root_.path() + "/probe.out";
    if (test::ChildProgram(program(), args, out).Wait() != 0) return "<probe failed>";
    std::string output = test::ReadFile(out);
    if (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
  }

  test::ScopedTestRoot root_;
};

TEST_F(StagedInstall, InstallConfigIsSearchedUpwardsFromTheExecutable) {
  // Nowhere: the grandparent's path, and reads give their defaults.
  EXPECT_EQ(Run("path"), SystemPath(top() + "/install.cfg"));
  EXPECT_EQ(Run("read install Language en_II"), "en_II");
  ASSERT_TRUE(test::WriteFile(top() + "/install.cfg", "[install]\nLanguage=fr_FR\n"));
  EXPECT_EQ(Run("read INSTALL language en_II"), "fr_FR");
  ASSERT_TRUE(test::WriteFile(base() + "/install.cfg",
                              "[install]\nLanguage=de_DE\n[ipc]\nServiceChannelName=tray\n"
                              "[Remote]\nServerIP=127.0.0.1\n"));
  EXPECT_EQ(Run("path"), SystemPath(base() + "/install.cfg"));
  EXPECT_EQ(Run("ipc"), "tray|127.0.0.1");
  ASSERT_TRUE(test::WriteFile(bin() + "/install.cfg", "[install]\nLanguage=it_IT\n"));
  EXPECT_EQ(Run("read install Language en_II"), "it_IT");
  EXPECT_EQ(Run("module"), SystemPath(program()) + "|" + SystemPath(program()));
}

TEST_F(StagedInstall, ABinaryRemovedWhileRunningStillFindsItsInstallation) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows does not let a running program's file be removed";
#endif
  ASSERT_TRUE(test::WriteFile(bin() + "/install.cfg", "[install]\nLanguage=en_II\n"));
  ASSERT_TRUE(test::WriteFile(bin() + "/language/Texts.ini", "[wardex]\nIDS_X=own section\n"));
  EXPECT_EQ(Run("removed " + bin() + "/wardex IDS_X"),
            bin() + "/wardex|" + bin() + "/install.cfg|own section");
}

TEST_F(StagedInstall, AFileIsRegisteredForUninstallOnceAndOnlyWhenWritten) {
  const std::string content = root_.path() + "/content/";
  ASSERT_TRUE(
      test::WriteFile(bin() + "/install.cfg", "[install]\nUserContentPath=" + content + "\n"));
  std::filesystem::create_directories(content);
  Run("register /opt/x/Brisko_Local_de_DE.cfg");
  // Keys match without regard to case, as every profile key does.
  Run("register /OPT/x/brisko_local_de_de.cfg");
  // A path with "=" would read back as another key: refused, never appended.
  Run("register /opt/a=b/x.cfg");
  EXPECT_EQ(test::ReadFile(content + "ToBeUninstalled.dat"),
            "[uninstall]\n/opt/x/Brisko_Local_de_DE.cfg=1\n");
  // A list that cannot be written is not reported as registered.
  ASSERT_TRUE(test::WriteFile(bin() + "/install.cfg",
                              "[install]\nUserContentPath=" + root_.path() + "/absent/\n"));
  Run("register /opt/y.cfg");
  EXPECT_EQ(test::LoggedAt(log(), 12),
            (std::vector<std::string>{
                "File registered for uninstall: /opt/x/Brisko_Local_de_DE.cfg",
                "File already registered for uninstall: /OPT/x/brisko_local_de_de.cfg"}));
  EXPECT_EQ(test::LoggedAt(log(), 3),
            (std::vector<std::string>{
                "File could not be registered for uninstall: /opt/a=b/x.cfg (error 87)",
                "File could not be registered for uninstall: /opt/y.cfg (error " +
                    std::to_string(kMissingFolderError) + ")"}));
}

TEST_F(StagedInstall, LanguageVariantsAreChosenInTheirFallbackOrder) {
  const std::string folder = root_.path() + "/f";
  // files: below folder
  // expected: "found path", relative to folder
  const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
      {"de_AT", {"Texts_de.ini", "Texts.ini"}, "1 Texts_de.ini"},
      {"de_AT", {"Texts_de_AT.ini", "Texts_de.ini"}, "1 Texts_de_AT.ini"},
      {"de_AT", {"Texts.ini"}, "1 Texts.ini"},
      {"en_II", {"language/Texts_en_II.ini"}, "1 language/Texts_en_II.ini"},
      {"en_II", {"Texts_en.ini", "language/Texts_en_II.ini"}, "1 Texts_en.ini"},
      {"_xx", {"Texts_.ini"}, "0 Texts.ini"},
      {"fr_FR", {"language/other.ini"}, "0 Texts.ini"},
  };
  for (const auto& [language, files, expected] : cases) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (const std::string& file : files) ASSERT_TRUE(test::WriteFile(folder + "/" + file, "x"));
    ASSERT_TRUE(test::WriteFile(bin() + "/install.cfg", "[install]\nLanguage=" + language + "\n"));
    EXPECT_EQ(SystemPath(Run("localize " + folder + "/Texts.ini")),
              SystemPath(expected.substr(0, 2) + folder + "/" + expected.substr(2)))
        << language << " " << files[0];
  }
}

TEST_F(StagedInstall, TextsFallBackOverTheThreeSections) {
  ASSERT_TRUE(test::WriteFile(bin() + "/install.cfg", "[install]\nLanguage=de_DE\n"));
  ASSERT_TRUE(test::WriteFile(bin() + "/product.cfg", "[install]\ncompany=Quen\n"));
  const std::string long_text(1500, 'x');
  ASSERT_TRUE(test::WriteFile(bin() + "/language/Texts_de.ini",
                              "[Wardex]\nids_string_EXIT=Beenden\nIDS_BOTH=aus Wardex\n"
                              "IDS_LONG=" +
                                  long_text +
                                  "\n"
                                  "[GENERAL]\nIDS_BOTH=allgemein\nIDS_SHARED=Zwei\\nZeilen\n"
                                  "IDS_NAME=%Company% %COMPANY%\n"
                                  "[ConsoleModule]\nCONSOLE_LANGUAGE_NAME=Deutsch\n"));
  ASSERT_TRUE(test::WriteFile(bin() + "/language/Texts.ini", "[general]\nIDS_STRING_EXIT=Exit\n"));
  const std::pair<std::string, std::string> cases[] = {
      {"text IDS_STRING_EXIT", "Beenden"},
      {"text IDS_BOTH", "aus Wardex"},
      {"text IDS_SHARED", "Zwei\nZeilen"},
      {"text IDS_NAME", "Quen QUEN"},
      {"text IDS_LONG", long_text},
      {"text IDS_BOTH other", "aus Wardex"},
      {"text IDS_MISSING", ""},
      // Each language file names its language; one that does not is named by its code.
      {"languages", "en_II=en_II\nde=Deutsch"},
  };
  for (const auto& [args, expected] : cases) EXPECT_EQ(Run(args), expected) << args;
  EXPECT_EQ(test::LoggedAt(log(), 9),
            (std::vector<std::string>{"LoadLocalizedString ## ERROR: Result is empty ## "
                                      "ModuleName: wardex ## StringID: IDS_MISSING"}));
  // Eight threads asking first at the same time all get the text.
  std::string expected;
  for (int i = 0; i < 8; ++i) expected += std::string(i ? "\n" : "") + "Beenden";
  EXPECT_EQ(Run("threads text IDS_STRING_EXIT"), expected);
  // Without a text file for the language or a plain one, the English file is tried.
  std::filesystem::remove_all(bin() + "/language");
  ASSERT_TRUE(test::WriteFile(bin() + "/language/Texts_EN.ini", "[general]\nIDS_X=english\n"));
  EXPECT_EQ(Run("text IDS_X"), "english");
}

TEST_F(StagedInstall, PlaceholdersAreExpandedInTheirOrderAndCases) {
  ASSERT_TRUE(test::WriteFile(bin() + "/product.cfg",
                              "[install]\ncompany=quen ärzte\npro2=Rapid\npro3=Pure %pro4%\n"
                              "pro4=Guard\npro1=Suite %pro3%\n"));
  // install: install.cfg's section install
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"", "%company%/%Company%/%COMPANY%", "quen ärzte/quen ärzte/QUEN ÄRZTE"},
      {"", "%companyfull% %COMPANYFULL%", "Corvane GmbH CORVANE GMBH"},
      {"", "%PRO2% %pro2%", "RAPID Rapid"},
      {"", "%unknown% %Pro5% 100%", "%unknown% %Pro5% 100%"},
      {"Module=clean_bk", "%prosilver%", "Pure %pro4%"},
      {"Module=CLEAN_BK", "%Prosilver%", "Pure %pro4%"},
      {"Module=bk_bk\nquenproduct=fast", "%prosilver%", "Suite %pro3%"},
      {"quenproduct=Fast", "%prosilver%", "Rapid"},
      {"Module=safe_bk", "%PROSILVER%", "GUARD"},
      {"Module=bk_free", "%prosilver%", "Suite %pro3%"},
      // A value is expanded further by the forms that come after its own.
      {"", "%pro1%", "Suite Pure Guard"},
      {"", "%Pro1%", "Suite %pro3%"},
      {"", "%function_wardex% %promobile%", "Wardex quenpure Mobile"},
  };
  for (const auto& [install, text, expected] : cases) {
    ASSERT_TRUE(test::WriteFile(bin() + "/install.cfg", "[install]\n" + install + "\n"));
    EXPECT_EQ(Run("expand", text), expected) << install << " " << text;
  }
  EXPECT_EQ(Run("threads expand %COMPANY%"),
            "QUEN ÄRZTE\nQUEN ÄRZTE\nQUEN ÄRZTE\nQUEN ÄRZTE\nQUEN ÄRZTE\nQUEN ÄRZTE\nQUEN "
            "ÄRZTE\nQUEN ÄRZTE");
}

TEST_F(StagedInstall, TheOperatingSystemLanguageIsAppliedWhenAskedFor) {
  const std::string language = bin() + "/language/";
#if defined(_WIN32)
  // The account's language, which a test cannot choose.
  const std::string os = Narrow(GetOperatingSystemLanguageCode());
  ASSERT_NE(os, "en_II");
#else
  const std::string os = "de_AT";
  root_.Set("LANG", "de_AT.UTF-8");
#endif
  ASSERT_TRUE(test::WriteFile(language + "Brisko_Local_en_II.cfg", "english"));
  ASSERT_TRUE(test::WriteFile(language + "QuenPure_Local_en_II.cfg", "english"));
  ASSERT_TRUE(test::WriteFile(language + "QuenPure_Local_" + os + ".cfg", "kept"));
  // OSLang "0", missing, or anything but "1": nothing is written or copied.
  for (const char* oslang : {"OSLang=0\n", "", "OSLang=10\n"}) {
    const std::string config = std::string("[install]\nLanguage=en_II\n") + oslang;
    ASSERT_TRUE(test::WriteFile(bin() + "/install.cfg", config));
    EXPECT_EQ(Run("apply 0"), "0") << oslang;
    EXPECT_EQ(test::ReadFile(bin() + "/install.cfg"), config);
  }
  EXPECT_FALSE(std::filesystem::exists(language + "Brisko_Local_" + os + ".cfg"));
  // (That the rest of the file keeps its bytes is the profile tests'.)
  auto with_language = [&](const std::string& code) {
    return "[install]\nLanguage=" + code + "\nOSLang=1\nUserContentPath=" + root_.path() + "/\n";
  };
  ASSERT_TRUE(test::WriteFile(bin() + "/install.cfg", with_language("en_II")));
  EXPECT_EQ(Run("apply 0"), "1");
  EXPECT_EQ(test::ReadFile(bin() + "/install.cfg"), with_language(os));
  EXPECT_EQ(test::ReadFile(language + "Brisko_Local_" + os + ".cfg"), "english");
  EXPECT_EQ(test::ReadFile(language + "QuenPure_Local_" + os + ".cfg"), "kept");
  EXPECT_FALSE(std::filesystem::exists(language + "QuenGuard_Local_" + os + ".cfg"));
  const std::string list = SystemPath(test::ReadFile(root_.path() + "/ToBeUninstalled.dat"));
  EXPECT_NE(list.find(SystemPath(language + "QuenPure_Local_" + os + ".cfg=1")), std::string::npos);
  EXPECT_NE(list.find(SystemPath(language + "Brisko_Local_" + os + ".cfg=1")), std::string::npos);
#if !defined(_WIN32)
  root_.Set("LC_ALL", "fr_CI.UTF-8");
  EXPECT_EQ(Run("apply 1"), "1");
  EXPECT_EQ(Run("read install Language x"), "fr_FR");
#endif
}

// Starts are counted in the product key named by the company and RegKey:
// the agent start tests count them.
TEST_F(StagedInstall, WithoutARegKeyNoStartIsCounted) {
  // An empty RegKey addresses the machine's root, which holds no values.
  if (test::RunningUnderWine()) GTEST_SKIP() << "Wine lets any value be written at HKLM's root";
  ASSERT_TRUE(test::WriteFile(bin() + "/install.cfg", "[install]\nRegKey=\n"));
  EXPECT_EQ(Run("count-start"), "0 0 ");
}

TEST(ReadProfileString, ValuesOfAnyLengthAreReadWhole) {
  test::ScopedTestRoot root;
  const std::string file = root.path() + "/v.ini";
  for (size_t length : {0, 1, 253, 254, 255, 509, 510, 2000}) {
    const std::string value(length, 'q');
    ASSERT_TRUE(test::WriteFile(file, "[s]\nk=" + value + "\n"));
    EXPECT_EQ(Narrow(ReadProfileString(u"S", u"K", u"d", Wide(file))), value) << length;
  }
  EXPECT_EQ(Narrow(ReadProfileString(u"s", u"missing", u"d", Wide(file))), "d");
}

#if !defined(_WIN32)  // opens are counted with inotify
TEST(TextTable, TheTextFileIsReadOncePerLoad) {
  test::ScopedTestRoot root;
  const std::string file = root.path() + "/Texts.ini";
  ASSERT_TRUE(test::WriteFile(file, "[Wardex]\nIDS_A=a\\nb\nids_B=b\n[general]\nIDS_C=c\n"));
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  // Closes too: two opens in a row would be merged into one event.
  ASSERT_GE(inotify_add_watch(watch, file.c_str(), IN_OPEN | IN_CLOSE), 0);
  const languages_internal::TextTable table = languages_internal::ReadTextTable(Wide(file));
  int opens = 0;
  alignas(inotify_event) char events[4096];
  for (ssize_t got; (got = read(watch, events, sizeof(events))) > 0;) {
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      opens += (event->mask & IN_OPEN) != 0 ? 1 : 0;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  close(watch);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(table,
            (languages_internal::TextTable{{u"wardex", {{u"ids_a", u"a\nb"}, {u"ids_b", u"b"}}},
                                           {u"general", {{u"ids_c", u"c"}}}}));
}

#endif

class RegistryKey : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(key_.Open(u"\\\\Software\\Corvane\\Brisko", true));
    auto set = [](const char16_t* name, uint32_t type, std::vector<uint8_t> data) {
      return platform::RegSetValue(platform::HKEY_CURRENT_USER, u"Software\\Corvane\\Brisko", name,
                                   platform::KEY_WRITE, type, data.data(),
                                   static_cast<uint32_t>(data.size()));
    };
    ASSERT_EQ(set(u"dword", platform::REG_DWORD, {0x2A, 0, 0, 0}), 0u);
    ASSERT_EQ(set(u"byte", platform::REG_BINARY, {1}), 0u);
    ASSERT_EQ(set(u"two", platform::REG_BINARY, {0x34, 0x12}), 0u);
    ASSERT_EQ(set(u"eight", platform::REG_BINARY, {1, 0, 0, 0, 1, 0, 0, 0}), 0u);
    ASSERT_EQ(set(u"expand", platform::REG_EXPAND_SZ, {'%', 0, 'X', 0, '%', 0, 0, 0}), 0u);
  }

  test::ScopedTestRoot root_;
  CRegistry key_{false};
};

TEST_F(RegistryKey, FixedSizeReadsFailWhenTheDataIsLarger) {
  EXPECT_EQ(key_.GetKeyPath(), KaString(u"Software\\Corvane\\Brisko"));
  // A bool of 4 bytes is read as the default, one of 1 byte as it is.
  EXPECT_EQ(std::tuple(key_.ReadBool(u"dword", false), key_.ReadBool(u"dword", true),
                       key_.ReadBool(u"byte", false)),
            std::tuple(false, true, true));
  EXPECT_EQ(key_.ReadDWord(u"dword", 7), 42u);
  EXPECT_EQ(key_.ReadInt(u"eight", -1), -1);
  EXPECT_EQ(key_.ReadDWord(u"two", 7), 0x1234u);  // smaller data is read; the type is not looked at
  EXPECT_EQ(std::tuple(key_.ReadQWord(u"eight", -1), key_.ReadQWord(u"dword", -1)),
            std::tuple(0x100000001LL, 42LL));
  EXPECT_EQ((std::tuple{key_.ReadQWord(u"missing", -5), key_.GetLastResult()}),
            std::tuple(-5LL, 2u));
  EXPECT_EQ(std::tuple(key_.ReadString(u"dword", u"def"), key_.ReadString(u"expand", u"def")),
            std::tuple(KaString(u"def"), KaString(u"%X%")));
}

TEST_F(RegistryKey, WritesRootsAndViews) {
  EXPECT_TRUE(key_.WriteString(u"Name", u"Grüße"));
  EXPECT_EQ(key_.ReadString(u"NAME", u""), KaString(u"Grüße"));
  EXPECT_TRUE(key_.WriteQWord(u"LAST_NEWSFEED_CHECK", 1700000000));
  uint32_t type = 0, size = 0;
  EXPECT_EQ(
      platform::RegQueryValue(platform::HKEY_CURRENT_USER, u"Software\\Corvane\\Brisko",
                              u"LAST_NEWSFEED_CHECK", platform::KEY_READ, &type, nullptr, &size),
      0u);
  EXPECT_EQ(std::tie(type, size), std::make_tuple(platform::REG_BINARY, 8u));
  EXPECT_EQ(key_.ReadQWord(u"LAST_NEWSFEED_CHECK", 0), 1700000000);
  EXPECT_TRUE(key_.DeleteValue(u"name"));
  EXPECT_FALSE(key_.ValueExists(u"name"));

  EXPECT_FALSE(key_.SetRootKey(HKEY_CURRENT_CONFIG));
  EXPECT_EQ(key_.GetRootKey(), HKEY_CURRENT_USER);
  // A failed open keeps the previous path.
  EXPECT_FALSE(key_.Open(u"Software\\Absent", false));
  EXPECT_EQ(key_.GetLastResult(), 2u);
  EXPECT_EQ(key_.GetKeyPath(), KaString(u"Software\\Corvane\\Brisko"));

  CRegistry machine(false);
  ASSERT_TRUE(machine.SetRootKey(HKEY_LOCAL_MACHINE));
  ASSERT_TRUE(machine.Open(u"SOFTWARE\\Corvane\\Brisko", true));
  EXPECT_TRUE(machine.WriteDWord(u"Tray_StartCount", 3));
  // The view and what is read there; 7 is no view and ignored.
  const std::pair<int, uint32_t> kViews[] = {
      {CRegistry::kView64, 99}, {7, 99}, {CRegistry::kView32, 3}, {CRegistry::kViewNative, 3}};
  for (const auto& [view, expected] : kViews) {
    machine.SetRegistryView(view);
    EXPECT_EQ(machine.ReadDWord(u"Tray_StartCount", 99), expected) << view;
  }
}

TEST(OperatingSystemLanguage, TheTableAndItsExceptions) {
  // The table's ends, the suite's own codes, and identifiers it lacks.
  const std::pair<uint16_t, const char*> cases[] = {
      {0x0401, "ar_SA"}, {0x0407, "de_DE"}, {0x043C, "gd"},    {0x0809, "en_UK"},
      {0x2409, "en_CB"}, {0x0818, "ro_MO"}, {0x0453, "kh_KH"}, {0x0C1A, "sr_SP"},
      {0x0814, "no_NO"}, {0x1C0C, "fr_FR"}, {0x380C, "fr_MA"}, {0x540A, "es_US"},
      {0x0433, "[433]"}, {0x0480, "[480]"}, {0x0000, "[0]"},   {0xFFFF, "[FFFF]"},
  };
  for (const auto& [langid, code] : cases) {
    EXPECT_EQ(Narrow(LanguageCodeFromLangId(langid)), code) << std::hex << langid;
  }
}

#if !defined(_WIN32)  // the POSIX locale's names
TEST(OperatingSystemLanguage, TheLocaleGivesTheLangId) {
  const std::pair<const char*, uint16_t> cases[] = {
      {"C", 0x0409},
      {"POSIX", 0x0409},
      {"C.UTF-8", 0x0409},
      {"", 0x0409},
      {"en_GB.UTF-8", 0x0809},
      {"fr_FR", 0x040C},
      {"de_AT.UTF-8@euro", 0x0C07},
      {"de", 0x0407},
      {"de_XX", 0x0407},
      {"sr_RS", 0x0C1A},
      {"sr_RS@latin", 0x081A},
      {"nb_NO.UTF-8", 0x0414},
      {"fr_CI", 0x300C},
      {"km_KH", 0x0453},
      {"eo", 0x0409},
  };
  for (const auto& [locale, langid] : cases) {
    EXPECT_EQ(platform::LangIdFromLocaleName(locale), langid) << locale;
  }
  // LC_ALL wins over LC_MESSAGES, which wins over LANG; empty ones are skipped
  // (LANG alone, and LC_ALL over it, are the staged language test's).
  test::ScopedTestRoot root;
  root.Set("LANG", "de_DE.UTF-8");
  root.Set("LC_MESSAGES", "en_GB");
  root.Set("LC_ALL", "");
  EXPECT_EQ(platform::GetUserDefaultLangID(), 0x0809);
  root.Set("LC_ALL", "es_MX");
  EXPECT_EQ(platform::GetUserDefaultLangID(), 0x080A);
}

#endif

}  // namespace
}  // namespace wardex
