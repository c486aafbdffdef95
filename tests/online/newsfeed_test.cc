// The news feed check against HTTPS servers on 127.0.0.1, on Linux in a
// private network namespace (this program's main enters it): the request
// document, data.xml, the choice among the service's items and their
// preparation.
#include "online/newsfeed.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "crashlog/log_test_util.h"
#include "https_test_server.h"
#include "news_samples.h"
#include "online/news_item_rules.h"
#include "osal/wide_format.h"
#include "platform/registry_store.h"
#include "support/test_env.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

using KaOSAL::KaString;
using test::HttpsTestServer;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr int64_t kNow = 1700000000;  // 2023-11-14 22:13:20 UTC
// Where the unprivileged child of TheDailyMarkFallsBackToTheUsersHive works.
constexpr char kMarkChildFolder[] = "WARDEX_NEWS_MARK_CHILD";

KaString Wide(const std::string& text) { return KaString(text.c_str(), KaOSAL::KA_CP_UTF8); }
std::string Utf8(const KaString& text) { return KaOSAL::ToUtf8(text.c_str(), text.GetLength()); }

class NewsfeedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.Set("WARDEX_LOG_FILE", log_path());
    root_.Set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/wardex-test-bus");
    SetTimeZone("UTC0");
    installation_.computer_id = u"0123abc";
    installation_.language = u"en_II";
    installation_.os_language = u"en_US";
    installation_.version = u"1.2.3";
    installation_.os_major = 6;
    installation_.os_minor = 1;
    installation_.news_folder = Wide(folder());
  }
  void TearDown() override { SetTimeZone("UTC0"); }
  // Sets the zone of the local dates; false where it cannot be chosen: on
  // Windows the machine's zone holds, and only UTC's rows run where it is UTC.
  static bool SetTimeZone(const char* zone) {
#if defined(_WIN32)
    const std::time_t now = kNow;
    const std::tm local = *std::localtime(&now);
    const std::tm utc = *std::gmtime(&now);
    return std::string(zone) == "UTC0" && local.tm_hour == utc.tm_hour &&
           local.tm_mday == utc.tm_mday;
#else
    setenv("TZ", zone, 1);
    tzset();
    return true;
#endif
  }

  std::string log_path() const { return root_.path() + "/wardex.log"; }
  std::string folder() const { return root_.path() + "/news/newsfeed/"; }
  std::string data_path() const { return folder() + "data.xml"; }
  void ClearLog() const { std::ofstream(log_path(), std::ios::trunc); }
  std::vector<std::string> Logged(int level) const { return test::LoggedAt(log_path(), level); }
  // A check object that trusts the test CA.
  std::unique_ptr<CNewsfeed> Make() const {
    return std::make_unique<CNewsfeed>(
        installation_, kNow, std::make_unique<test::TrustingTestCa<CVeSimpleXMLHTTPComunicator>>());
  }
  // One check (written back when it ends) choosing from an answer of |items|.
  bool ChooseFrom(const std::string& items, NewsItem* item) const {
    auto newsfeed = Make();
    EXPECT_TRUE(newsfeed->BuildRequest());
    SimpleXMLElement answer("<n>" + items + "</n>");
    return newsfeed->ChooseFromAnswer(answer, *item);
  }
  // A news folder holding only a data.xml with a complete client and |inner|,
  // and an empty log.
  void WriteData(const std::string& inner = "") const {
    std::filesystem::remove_all(folder());
    ClearLog();
    ASSERT_TRUE(test::WriteFile(data_path(),
                                "<quennewsfeed><client>1<id>0123abc</id>"
                                "<date>1700000000</date><lastdate>1700086400"
                                "</lastdate></client>" +
                                    inner + "</quennewsfeed>"));
  }
  // The names of the children of data.xml's |element|, after the check wrote it.
  std::vector<std::string> Children(const char* element) const {
    SimpleXMLElement data(test::ReadFile(data_path()));
    std::vector<std::string> names;
    if (SimpleXMLElement* parent = data.FindChild(Wide(element))) {
      for (int i = 0; i < parent->GetChildCount(); ++i)
        names.push_back(Utf8(parent->GetChild(i)->GetName()));
    }
    return names;
  }

  test::ScopedTestRoot root_;
  NewsfeedInstallation installation_;
};

TEST(NewsItemRulesTest, Colours) {
  const std::tuple<const char16_t*, bool, uint32_t> kCases[] = {
      {u"FF8000", true, 255 + 128 * 256},
      {u"0000ff", true, 255u << 16},
      {u"FFF", false, 0},
      {u"FF80000", false, 0},
      {u"GG0000", false, 0},
      {u"-F8000", false, 0},
      {u" FF800", false, 0},
  };
  for (const auto& [text, valid, expected] : kCases) {
    uint32_t colour = 0;
    EXPECT_EQ((std::pair{ParseNewsColour(text, &colour), colour}), std::pair(valid, expected))
        << Utf8(text);
  }
}

TEST(NewsItemRulesTest, CommandLines) {
  // The command, the line (null: refused).
  const std::pair<const char16_t*, const char16_t*> kCases[] = {
      {u"start", u"/scanall"},         {u"Start", u"/scanall"},
      {u"scan abc", u"\"/scan:abc\""}, {u"SCAN Quick scan full", u"\"/scan:quick/scan:full\""},
      {u"scan", u"\"/scan:\""},        {u"starts", nullptr},
      {u"format c:", nullptr},         {u"scan abc\" & rm -rf ~", nullptr},
      {u"scan;reboot", nullptr},       {u"scan $(id)", nullptr},
      {u"scan \u012F", nullptr},  // its low byte is "/"
  };
  for (const auto& [command, expected] : kCases) {
    KaString line = u"x";
    EXPECT_EQ(NewsCommandLine(command, &line), expected != nullptr) << Utf8(command);
    EXPECT_EQ(Utf8(line), expected != nullptr ? Utf8(expected) : "") << Utf8(command);
  }
}

TEST(NewsItemRulesTest, LinksIdsAndPictures) {
  const std::pair<const char16_t*, bool> kLinks[] = {
      {u"https://example.org/a?b=c", true},
      {u"HTTPS://example.org", true},
      {u"http://example.org/", false},
      {u"javascript:alert(1)", false},
      {u"https://", false},
      {u"https:///path", false},
      {u"https://a b", false},
      {u"https://a\"onclick", false},
      {u"https://a\n", false},
  };
  for (const auto& [link, valid] : kLinks) EXPECT_EQ(IsHttpsLink(link), valid) << Utf8(link);
  EXPECT_FALSE(IsHttpsLink(u"https://a/" + KaString(u'x', 2040)));

  const std::pair<const char16_t*, bool> kIds[] = {
      {u"news-2026_12.a", true}, {u"123", true},  {u"", false},
      {u".hidden", false},       {u"..", false},  {u"a/b", false},
      {u"a\\b", false},          {u"a b", false}, {u"caf\u00e9", false},
  };
  for (const auto& [id, valid] : kIds) EXPECT_EQ(IsSafeNewsId(id), valid) << Utf8(id);
  EXPECT_TRUE(IsSafeNewsId(KaString(u'a', 64)));
  EXPECT_FALSE(IsSafeNewsId(KaString(u'a', 65)));

  // A PNG with |bytes| at |at|: the width and height are big-endian at 16 and 20.
  const auto patched = [](size_t at, const std::string& bytes) {
    return test::PngBytes().replace(at, bytes.size(), bytes);
  };
  const std::pair<std::string, bool> kPictures[] = {
      {test::PngBytes(), true},
      {test::PngBytes(29), true},
      {test::PngBytes(28), false},
      {patched(1, "J"), false},
      {patched(19, std::string(1, '\0')), false},
      {patched(12, "i"), false},
      {"GIF89a", false},
      {"", false},
      {patched(16, std::string("\0\0\x10\0\0\0\x10\0", 8)), true},           // 4096 x 4096
      {patched(16, std::string("\0\0\x10\x01\0\0\0\x01", 8)), false},        // 4097 x 1
      {patched(16, std::string("\0\0\0\x01\0\0\x10\x01", 8)), false},        // 1 x 4097
      {patched(16, std::string("\0\x0f\x42\x40\0\x0f\x42\x40", 8)), false},  // 10^6 x 10^6
  };
  for (const auto& [bytes, valid] : kPictures) EXPECT_EQ(LooksLikePng(bytes), valid);

  EXPECT_EQ(Utf8(CompleteNewsLink(u"https://a/n", u"c1", u"")), "https://a/n?ClientId=c1");
  EXPECT_EQ(Utf8(CompleteNewsLink(u"https://a/n?x=1", u"c1", u"p")),
            "https://a/n?x=1&ClientId=c1&phash=p");
}

TEST(NewsfeedGateTest, InstallationGate) {
  // Seconds since the installation, the uptime, whether the check may run.
  const std::tuple<int64_t, int64_t, bool> kCases[] = {
      {3600, 7200, false},  {3600, 1800, true}, {3600, 3600, false}, {86399, 90000, false},
      {86400, 90000, true}, {-1, 0, false},     {-86400, 0, false},  {0, 0, false},
  };
  for (const auto& [since_install, uptime, passes] : kCases) {
    EXPECT_EQ(PassesInstallationGate(since_install, uptime), passes)
        << since_install << " " << uptime;
  }
}

TEST_F(NewsfeedTest, RequestDocumentsAndClientDataHashes) {
  // What, the language, the zone of the local dates, the tags, whether
  // data.xml is there (else it is repaired, with no installation time, for
  // another machine and version), the children up to tags as written, the
  // lastusedate and the hash.
  const std::tuple<const char*, const char16_t*, const char*, const char16_t*, bool, std::string,
                   const char*, const char*>
      kCases[] = {
          {"stored dates, UTC", u"en_II", "UTC0", u"", true,
           "\t<lang>en_II</lang>\n\t<langos>en_US</langos>\n\t<id>0123abc</id>\n"
           "\t<version>1.2.3</version>\n\t<os>6.1</os>\n\t<installdate>2023-11-14</installdate>\n"
           "\t<tags></tags>\n",
           "2023-11-15", "270b25fcadbb290b2de8f4d0e46d129a"},
          {"local dates east of UTC, escaped tags", u"de_DE", "JST-9", u"p&<1", true,
           "\t<lang>de_DE</lang>\n\t<langos>de_DE</langos>\n\t<id>0123abc</id>\n"
           "\t<version>1.2.3</version>\n\t<os>6.1</os>\n\t<installdate>2023-11-15</installdate>\n"
           "\t<tags>p&amp;&lt;1</tags>\n",
           "2023-11-16", "1fed0b0bb62870f74c9918283d4e7eea"},
          {"repaired without an installation time", u"fr_FR", "UTC0", u"demo", false,
           "\t<lang>fr_FR</lang>\n\t<langos>fr_FR</langos>\n\t<id>cid</id>\n"
           "\t<version>0.9</version>\n\t<os>10.0</os>\n\t<installdate>2023-11-14</installdate>\n"
           "\t<tags>demo</tags>\n",
           "2023-11-14", "84d8d3559bbe707da0a9c8458828f3c5"},
      };
  for (const auto& [what, language, time_zone, phash, with_data, fields, lastusedate, hash] :
       kCases) {
    SCOPED_TRACE(what);
    std::filesystem::remove_all(folder());
    if (with_data) WriteData();
    if (!SetTimeZone(time_zone)) continue;
    installation_.language = language;
    installation_.os_language = language == std::u16string(u"en_II") ? u"en_US" : language;
    installation_.phash = phash;
    installation_.computer_id = with_data ? u"0123abc" : u"cid";
    installation_.version = with_data ? u"1.2.3" : u"0.9";
    installation_.os_major = with_data ? 6 : 10;
    installation_.os_minor = with_data ? 1 : 0;
    auto newsfeed = Make();
    ASSERT_TRUE(newsfeed->BuildRequest());
    EXPECT_EQ(newsfeed->request().ToXml(), std::string(kDeclaration) + "<client>\n" + fields +
                                               "\t<lastusedate>" + lastusedate +
                                               "</lastusedate>\n</client>\n");
    EXPECT_EQ(Utf8(newsfeed->client_data_hash()), hash);
  }
}

TEST_F(NewsfeedTest, DataFileIsReadOrRepairedAndWrittenBack) {
  installation_.computer_id = u"fresh";
  installation_.install_time = 1600000000;
  using Client = std::tuple<std::string, int64_t, int64_t>;  // id, date, lastdate
  const Client kept{"kept", 5, 6}, fresh{"fresh", 1600000000, kNow};
  // What, data.xml (null: none), the client after loading, whether old/a survives.
  const std::tuple<const char*, const char*, Client, bool> kCases[] = {
      {"complete",
       "<quennewsfeed><client>1<id>kept</id><date>5</date><lastdate>6</lastdate>"
       "</client><old>1<a>1</a></old></quennewsfeed>",
       kept, true},
      {"missing", nullptr, fresh, false},
      {"garbage", "\x01\x02not xml at all", fresh, false},
      {"cut off", "<quennewsfeed><client>1<id>kept</id><date>5</da", fresh, false},
      {"no lastdate",
       "<quennewsfeed><client>1<id>kept</id><date>5</date></client>"
       "<old>1<a>1</a></old></quennewsfeed>",
       fresh, true},
      {"empty id",
       "<quennewsfeed><client>1<id></id><date>5</date><lastdate>6</lastdate>"
       "</client><old>1<a>1</a></old></quennewsfeed>",
       fresh, true},
      {"other root", "<other><client>1<id>x</id></client><old>1<a>1</a></old></other>", fresh,
       true},
      // No calendar date: the service would never be asked again.
      {"date beyond the calendar",
       "<quennewsfeed><client>1<id>kept</id><date>99999999999999999</date><lastdate>6"
       "</lastdate></client><old>1<a>1</a></old></quennewsfeed>",
       fresh, true},
  };
  for (const auto& [what, content, loaded, keeps_old] : kCases) {
    SCOPED_TRACE(what);
    std::filesystem::remove_all(folder());
    if (content != nullptr) {
      ASSERT_TRUE(test::WriteFile(data_path(), content));
    }
    Make().reset();
    SimpleXMLElement data(test::ReadFile(data_path()));
    EXPECT_EQ(Utf8(data.GetName()), "quennewsfeed");
    SimpleXMLElement* client = data.FindChild(u"client");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(
        Client(Utf8(client->GetChildValue(u"id")), client->FindChild(u"date")->GetInt64Value(),
               client->FindChild(u"lastdate")->GetInt64Value()),
        loaded);
    EXPECT_EQ(Children("old") == std::vector<std::string>{"a"}, keeps_old);
  }
#if !defined(_WIN32)  // Windows has no modes: the folder's ACL is inherited
  struct stat info {};
  ASSERT_EQ(stat(folder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
#endif
}

TEST_F(NewsfeedTest, ChoosesTheLastValidItemNotSeen) {
  // Valid items, one for each id in |ids|.
  const auto items = [](std::initializer_list<const char*> ids) {
    std::string xml;
    for (const char* id : ids) xml += test::NewsItemXml(id);
    return xml;
  };
  const std::string no_title = "<item><id>b</id><enddate>2030-01-01</enddate></item>";
  const std::string short_date =
      "<item><id>b</id><title>x</title><enddate>2030-01-1</enddate></item>";
  // What, the children of old in data.xml, the answer's items, the item
  // chosen (empty: none), the active ones after, the lines on invalid items.
  const std::tuple<const char*, std::string, std::string, const char*, std::vector<std::string>,
                   size_t>
      kCases[] = {
          {"three new: the third", "", items({"a", "b", "c"}), "c", {"a", "b", "c"}, 0},
          {"third seen: the second", "<c>1</c>", items({"a", "b", "c"}), "b", {"a", "b", "c"}, 0},
          {"seen with another value is new", "<c>0</c>", items({"a", "c"}), "c", {"a", "c"}, 0},
          {"all seen", "<a>1</a><b>1</b>", items({"a", "b"}), "", {"a", "b"}, 0},
          {"no title: logged", "", items({"a"}) + no_title, "a", {"a"}, 1},
          {"nine-character enddate: skipped quietly", "", items({"a"}) + short_date, "a", {"a"}, 0},
          {"unsafe id: logged", "", items({"a", "..%2Fx", "a%20b"}), "a", {"a"}, 2},
          {"nothing valid", "", "<item><id>a</id></item>", "", {}, 1},
      };
  for (const auto& [what, old, answer, chosen, active, invalid_lines] : kCases) {
    SCOPED_TRACE(what);
    WriteData("<old>1" + old + "</old><active>1<stale>1</stale></active>");
    NewsItem item;
    EXPECT_EQ(ChooseFrom(answer, &item) ? Utf8(item.id) : "", chosen);
    EXPECT_EQ(Children("active"), active);
    size_t invalid = 0;
    for (const std::string& line : Logged(kLogError))
      invalid += line.rfind("ERROR ## NEWSFEED - invalid: ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(invalid, invalid_lines);
  }
}

TEST_F(NewsfeedTest, AHostileAnswerCostsBoundedLogAndTime) {
  // Invalid items beyond what is logged, the last a deep chain whose text,
  // indented per level, is far longer than the answer.
  std::string invalid;
  for (int i = 0; i < 1000; ++i) invalid += "<item><id>x" + std::to_string(i) + "</id></item>";
  std::string chain;
  for (int i = 0; i < 2000; ++i) chain += "<l>1</l>";
  for (int depth = 0; depth < 240; ++depth) chain = "<c>" + chain + "</c>";
  WriteData();
  NewsItem item;
  EXPECT_FALSE(ChooseFrom(invalid + chain, &item));
  const std::string log = test::ReadFile(log_path());
  ASSERT_LT(log.size(), 64u * 1024) << "the log holds the answer whole";
  EXPECT_NE(log.find("[cut after 4096 bytes]"), std::string::npos);
  const std::vector<std::string> errors = Logged(kLogError);
  ASSERT_EQ(errors.size(), 11u);
  EXPECT_EQ(errors.back(), "ERROR ## NEWSFEED - 991 more invalid items not logged");

  // Many valid items are chosen from in time that grows with their number.
  std::string items;
  const int count = 16000;
  for (int i = 0; i < count; ++i) items += test::NewsItemXml("n" + std::to_string(i));
  const auto cpu_seconds = [] {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  };
  const double start = cpu_seconds();
  EXPECT_TRUE(ChooseFrom(items, &item));
  const double used = cpu_seconds() - start;
  EXPECT_EQ(Utf8(item.id), "n" + std::to_string(count - 1));
  EXPECT_EQ(Children("active").size(), static_cast<size_t>(count));
  // A search per item takes seconds here; a lookup by set a small part of one.
  EXPECT_LT(used, test::Scaled(1, 4)) << "seconds of CPU";
}

#if !defined(_WIN32)  // Windows: the user's own folder, no modes
TEST_F(NewsfeedTest, ANewsFolderThatIsALinkIsNotUsed) {
  const std::string elsewhere = root_.path() + "/someone-elses";
  std::filesystem::create_directories(elsewhere);
  chmod(elsewhere.c_str(), 0755);
  std::filesystem::create_directories(root_.path() + "/news");
  ASSERT_EQ(symlink(elsewhere.c_str(), (root_.path() + "/news/newsfeed").c_str()), 0);
  ClearLog();
  Make().reset();
  struct stat info {};
  ASSERT_EQ(stat(elsewhere.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
  EXPECT_FALSE(std::filesystem::exists(elsewhere + "/data.xml"));
  EXPECT_EQ(Logged(kLogError).size(), 1u) << "NEWSFEED: the news folder ... cannot be used";
}
#endif

// What an item shows: kind, title, nid, text, link, button text, has-command
// and command line, the colours where set (hex) and the tags.
std::string Shown(const NewsItem& item) {
  const auto colour = [](uint8_t has, uint32_t value) {
    char text[16] = "-";
    if (has != 0) snprintf(text, sizeof(text), "%06x", value);
    return std::string(text);
  };
  return std::to_string(item.kind) + "|" + Utf8(item.title) + "|" + Utf8(item.nid) + "|" +
         Utf8(item.text) + "|" + Utf8(item.link) + "|" + Utf8(item.button_text) + "|" +
         std::to_string(item.has_command) + Utf8(item.command_line) + "|" +
         colour(item.has_foreground_color, item.foreground_color) + "|" +
         colour(item.has_background_color, item.background_color) + "|" + Utf8(item.tags);
}

TEST_F(NewsfeedTest, PreparesEachKindAndRefusesWhatCannotBeShown) {
  // The children after id, title and enddate; the item shown (empty: none);
  // the url of the copy under data.xml's newsfeed (empty: none), completed
  // also where a link-only item ignores it.
  const std::tuple<std::string, std::string, std::string> kCases[] = {
      {"<nid>7</nid><text>Body</text><btntext>Go</btntext><url>https://n.test/a</url>"
       "<colorfg>FF8000</colorfg><colorbg>FFF</colorbg><tags>t1</tags>",
       "0|Title x|7|Body|https://n.test/a?ClientId=0123abc&phash=ph|Go|0|0080ff|-|t1",
       "https://n.test/a?ClientId=0123abc&phash=ph"},
      {"<URLonly>https://n.test/only</URLonly><url>http://ignored</url><command>bad</command>",
       "2|Title x|||https://n.test/only||0|-|-|", "http://ignored?ClientId=0123abc&phash=ph"},
      {"<URLonly>http://n.test/only</URLonly>", "", ""},
      {"<url>javascript:alert(1)</url>", "", ""},
      {"<command>scan abc</command>", "0|Title x|||||1\"/scan:abc\"|-|-|", ""},
      {"<command>rm -rf /</command>", "", ""},
  };
  installation_.phash = u"ph";
  for (const auto& [extra, shown, stored_url] : kCases) {
    SCOPED_TRACE(extra);
    WriteData("<newsfeed>1<id>earlier</id></newsfeed>");
    NewsItem item;
    EXPECT_EQ(ChooseFrom(test::NewsItemXml("x", extra), &item) ? Shown(item) : "", shown);
    const std::vector<std::string> errors = Logged(kLogError);
    EXPECT_EQ(errors.size(), shown.empty() ? 1u : 0u);
    for (const std::string& error : errors)
      EXPECT_EQ(error.rfind("NEWSFEED ### ERROR converting: ", 0), 0u) << error;
    SimpleXMLElement data(test::ReadFile(data_path()));
    SimpleXMLElement* stored = data.FindChild(u"newsfeed");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(Utf8(stored->GetChildValue(u"id")), stored_url.empty() ? "earlier" : "x");
    if (!stored_url.empty()) {
      EXPECT_EQ(Utf8(stored->GetChildValue(u"url")), stored_url);
      EXPECT_EQ(Utf8(stored->GetChildValue(u"ClientDataHash")).size(), 32u);
    }
  }
}

TEST_F(NewsfeedTest, DontPopUpIsRememberedNotShown) {
  WriteData();
  for (int day = 0; day < 2; ++day) {
    NewsItem item;
    EXPECT_FALSE(ChooseFrom(test::NewsItemXml("quiet", "<dontpopup>1</dontpopup>"), &item));
  }
  EXPECT_EQ(Children("old"), std::vector<std::string>{"quiet"});
  EXPECT_EQ(Children("active"), std::vector<std::string>{"quiet"});
}

TEST_F(NewsfeedTest, PicturesAreBoundedAndCheckedAsPng) {
  HttpsTestServer server;
  // What, the body and status served, whether the item is shown with it.
  const std::tuple<const char*, std::string, int, bool> kCases[] = {
      {"png", test::PngBytes(), 200, true},
      {"largest png", test::PngBytes(CNewsfeed::kMaxPictureBytes), 200, true},
      {"too large", test::PngBytes(CNewsfeed::kMaxPictureBytes + 1), 200, false},
      {"not a png", "<html>hello</html>", 200, false},
      {"png behind an error status", test::PngBytes(), 404, false},
  };
  const std::tuple<const char*, std::string, int, bool>* serving = &kCases[0];
  server.Handle("/p.png", [&](const httplib::Request&, httplib::Response& response) {
    response.status = std::get<2>(*serving);
    response.body = std::get<1>(*serving);
  });
  server.Start();
  const std::string address = server.Url("/p.png");
  const std::string picture_item = test::NewsItemXml("pic", "<imageUrl>" + address + "</imageUrl>");
  const std::string picture = folder() + "pic.png";
  for (const auto& row : kCases) {
    const auto& [what, body, status, shown] = row;
    SCOPED_TRACE(what);
    serving = &row;
    WriteData();
    NewsItem item;
    EXPECT_EQ(ChooseFrom(picture_item, &item), shown);
    EXPECT_EQ(std::filesystem::exists(picture), shown);
    if (shown) {
      EXPECT_EQ(std::tuple(item.kind, Utf8(item.picture.ToString()), test::ReadFile(picture)),
                std::tuple(kNewsItemWithPicture, picture, body));
    } else {
      const std::vector<std::string> errors = Logged(kLogError);
      EXPECT_NE(std::find(errors.begin(), errors.end(), "NEWSFEED Error Download " + address),
                errors.end());
    }
  }
  // A picture already there is used without asking; one that is no PNG is
  // fetched again.
  serving = &kCases[0];
  const int asked = server.requests();
  for (const std::string& there : {test::PngBytes(), std::string("junk")}) {
    ASSERT_TRUE(test::WriteFile(folder() + "pic.png", there));
    NewsItem item;
    EXPECT_TRUE(ChooseFrom(picture_item, &item));
    EXPECT_EQ(test::ReadFile(folder() + "pic.png"), test::PngBytes());
  }
  EXPECT_EQ(server.requests(), asked + 1);
}

TEST_F(NewsfeedTest, ServiceFailuresEndTheCheckWithTheirLine) {
  HttpsTestServer server;
  server.Serve("/garbage", {.body = "\x01 this is not xml"});
  server.Serve("/empty", {.body = "<newsfeeds></newsfeeds>"});
  server.Serve("/error", {.status = 500});
  server.Start();
  // The address; the last line at level 3 or 14.
  const std::tuple<std::string, std::string, int> kCases[] = {
      {server.Url("/garbage"), "NEWSFEED ## No newsfeed", kLogTrace},
      {server.Url("/empty"), "NEWSFEED ## No newsfeed", kLogTrace},
      {server.Url("/error"), "ERROR ## NEWSFEED - Error connect 500 (system code 500)", kLogError},
      {"https://127.0.0.1:1/", "ERROR ## NEWSFEED - Error connect 3 (system code 12029)",
       kLogError},
      {"", "ERROR ## NEWSFEED - No URL found", kLogError},
  };
  for (const auto& [url, line, level] : kCases) {
    SCOPED_TRACE(url);
    WriteData("<old>1<a>1</a></old>");
    installation_.service_url = Wide(url);
    NewsItem item;
    EXPECT_FALSE(Make()->AskService(item));
    ASSERT_FALSE(Logged(level).empty());
    EXPECT_EQ(Logged(level).back(), line);
    EXPECT_EQ(Children("old"), std::vector<std::string>{"a"}) << "data.xml stays consistent";
    if (url == server.Url("/garbage")) {
      // The request goes out as logged, the record on one line.
      std::string posted = server.last_request().body;
      EXPECT_EQ(posted.rfind(kDeclaration, 0), 0u);
      std::replace(posted.begin(), posted.end(), '\n', ' ');
      EXPECT_EQ(Logged(kLogTrace).front() + " ", "NEWSFEED ## Send: " + posted);
    }
  }
}

#if !defined(_WIN32)  // no second account on the Windows test machine
// Run as an unprivileged user by TheDailyMarkFallsBackToTheUsersHive, in a
// copy of this program beside an install.cfg that names a product key.
TEST(NewsfeedMarkChild, ChecksOncePerDay) {
  const char* folder = std::getenv(kMarkChildFolder);
  if (folder == nullptr) GTEST_SKIP() << "run by TheDailyMarkFallsBackToTheUsersHive";
  NewsfeedInstallation installation;
  installation.computer_id = u"cid";
  installation.language = u"en_II";
  installation.os_language = u"en_US";
  installation.news_folder = Wide(std::string(folder) + "/news/");
  for (int64_t later = 0; later < 2; ++later) {
    CNewsfeed newsfeed(installation, kNow + later, std::make_unique<CVeSimpleXMLHTTPComunicator>());
    NewsItem item;
    EXPECT_FALSE(newsfeed.Check(item));
  }
}

// The mark as a user who may not write the machine hive, where the machine's
// product key exists or not.
TEST_F(NewsfeedTest, TheDailyMarkFallsBackToTheUsersHive) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  namespace fs = std::filesystem;
  constexpr char16_t kKey[] = u"SOFTWARE\\Corvane\\NewsTest";
  const auto mark = [&kKey](platform::HKEY hive) {
    int64_t value = 0;
    uint32_t size = sizeof(value);
    return platform::RegQueryValue(hive, kKey, u"LAST_NEWSFEED_CHECK", platform::KEY_QUERY_VALUE,
                                   nullptr, reinterpret_cast<uint8_t*>(&value), &size) == 0
               ? value
               : -1;
  };
  for (const bool machine_key : {true, false}) {
    SCOPED_TRACE(machine_key ? "the machine's key exists" : "no machine key");
    test::ScopedTestRoot root;
    if (machine_key) {
      ASSERT_EQ(platform::RegCreateKey(platform::HKEY_LOCAL_MACHINE, kKey, platform::KEY_SET_VALUE),
                0u);
    }
    const std::string shared = root.path() + "/shared";
    fs::create_directories(shared);
    for (const std::string& open : {shared, root.data_home()})
      fs::permissions(open, fs::perms::all);
    const std::string program = test::ReachableCopy(fs::read_symlink("/proc/self/exe"), shared);
    ASSERT_FALSE(program.empty());
    ASSERT_TRUE(test::WriteFile(shared + "/newsfeed_tests-libs/install.cfg",
                                "[install]\nRegKey=NewsTest\ncompany=Corvane\n"));
    const std::string child_log = shared + "/child.log";
    setenv(kMarkChildFolder, shared.c_str(), 1);
    setenv("WARDEX_LOG_FILE", child_log.c_str(), 1);
    const std::string command =
        program + " --gtest_filter=NewsfeedMarkChild.* >" + shared + "/child.out 2>&1";
    const int status =
        test::RunAsUnprivileged([&command] { return std::system(command.c_str()) == 0 ? 0 : 1; });
    unsetenv(kMarkChildFolder);
    EXPECT_EQ(status, 0) << test::ReadFile(shared + "/child.out");
    // Asked once (and told of the missing address), then held back by the mark.
    EXPECT_EQ(test::LoggedAt(child_log, kLogError),
              std::vector<std::string>{"ERROR ## NEWSFEED - No URL found"});
    // Not in the machine's hive, which the user may not write.
    EXPECT_EQ(std::pair(mark(platform::HKEY_LOCAL_MACHINE), mark(platform::HKEY_CURRENT_USER)),
              std::pair(int64_t{-1}, kNow));
  }
}
#endif

}  // namespace
}  // namespace wardex
