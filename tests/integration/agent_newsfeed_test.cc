// The news feed end to end: the real agent asks a local HTTPS news service
// and takes its time from a local SNTP server, all on 127.0.0.1 in the
// private network namespace that this program's main enters (the agent
// shares it). The Console is the journaling test fixture.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <tuple>

#include "desktop/desktop_peers.h"
#include "integration/agent_harness.h"
#include "online/https_test_server.h"
#include "online/news_samples.h"
#include "support/session_bus.h"
#include "time/sntp_responder.h"

namespace wardex::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr uint32_t kSntpEpochOffset = 2208988800u;  // 1900 to 1970
constexpr int64_t kDay = 86400;

class AgentNewsfeedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/wardex-test-bus", 1);
    tree_.ShareTestNetwork();
    tree_.AddConsole();
    server_.Handle("/feed", [this](const httplib::Request&, httplib::Response& response) {
      response.body = answer_text();
      if (response.body == kStall) server_.WaitForStop();
    });
    server_.Start();
    // The tracking name goes into the User-Agent; the test CA is trusted
    // only through test_ca_file.
    tree_.ReplaceInInstallConfig("[install]\n", "[install]\nProductTrackingName=WardexTrack\n");
    tree_.AppendInstallConfig("[web]\nnewsfeedURL=" + server_.Url("/feed") + "\ntest_ca_file=" +
                              PkiFile("root-ca.pem") + "\ntest_connect_timeout_ms=1000\n");
    tree_.ReplaceInInstallConfig("servers=127.0.0.1:9",
                                 "servers=127.0.0.1:" + std::to_string(sntp_.port()));
    // Installed a minute ago by the local clock; the time server says two
    // days later, so only the server time passes the installation gate.
    ASSERT_TRUE(tree_.WriteProduct<int64_t>("INSTALLTIMESTAMP_UTC", Now() - 60));
    server_seconds_ = Now() + 2 * kDay;
  }

  static int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }
  std::string news_folder() const { return tree_.root().path() + "/cache/wardex/newsfeed/"; }
  std::string data_text() const { return ReadFile(news_folder() + "data.xml"); }
  std::string answer_text() {
    std::lock_guard<std::mutex> hold(lock_);
    return answer_;
  }
  void Answer(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    answer_ = text;
  }
  // The inode of data.xml, which every finished check replaces; 0 without one.
  ino_t DataInode() const {
    struct stat info {};
    return stat((news_folder() + "data.xml").c_str(), &info) == 0 ? info.st_ino : 0;
  }

  // Starts the agent, waits until its check has written data.xml, closes it.
  void RunOneStart() {
    const ino_t before = DataInode();
    auto agent = tree_.StartAndWait();
    ASSERT_NE(agent, nullptr) << tree_.Diagnostics();
    WaitFor([&] { return DataInode() != before; }, milliseconds(20000));
    EXPECT_NE(DataInode(), before) << "the check did not end\n" << tree_.Diagnostics();
    ASSERT_EQ(agent->Stop(), 0) << tree_.Diagnostics();
  }
  size_t Shown(const std::string& needle) const { return CountContaining(tree_.Journal(), needle); }
  size_t Logged(const std::string& needle) const {
    return CountContaining(tree_.LogTexts(), needle);
  }

  static constexpr char kStall[] = "stall";
  AgentTree tree_;
  HttpsTestServer server_;
  std::atomic<int64_t> server_seconds_{0};
  std::atomic<bool> sntp_silent_{false};
  SntpResponder sntp_{[this](const SntpResponder::Bytes& request) {
    if (sntp_silent_) return SntpResponder::Bytes{};
    return SntpResponder::GoodAnswer(
        request, static_cast<uint32_t>(server_seconds_.load() + kSntpEpochOffset));
  }};
  std::mutex lock_;
  std::string answer_;
};

// The choice among the items, the invalid ones' lines and the same day's
// second check are the news feed unit test's; here the agent shows the item,
// remembers it once shown and keeps to the Console's switch and the mark.
TEST_F(AgentNewsfeedTest, OncePerDayOneItemNotSeenBefore) {
  Answer("<newsfeeds>" + NewsItemXml("a") + NewsItemXml("b", "<url>https://n.test/b</url>") +
         "<item><id>c</id><enddate>2030-01-01</enddate></item></newsfeeds>");
  // Switched off in the settings: nothing asked, no day marked.
  ASSERT_TRUE(tree_.WriteProduct<uint32_t>("NEWSFEED_OFF", 1));
  RunOneStart();
  EXPECT_EQ(Logged("NEWSFEED: switched off in the settings"), 1u);
  EXPECT_EQ(server_.requests(), 0);
  ASSERT_TRUE(tree_.WriteProduct<uint32_t>("NEWSFEED_OFF", 0));
  // Switched on: the last valid item is shown and remembered.
  RunOneStart();
  EXPECT_EQ(server_.requests(), 1);
  EXPECT_EQ(Shown("console show-newsfeed "), 1u);
  EXPECT_EQ(Shown("console show-newsfeed id=b title=\"Title b\" kind=0 "
                  "link=\"https://n.test/b?ClientId="),
            1u)
      << ::testing::PrintToString(tree_.Journal());
  EXPECT_EQ(Logged("NEWSFEED ## Found newsfeed "), 1u);
  const std::string user_agent = server_.last_request().get_header_value("User-Agent");
  EXPECT_EQ(user_agent.rfind("WardexTrack/", 0), 0u) << user_agent;
  EXPECT_NE(data_text().find("<old>\n\t\t<b>1</b>"), std::string::npos) << data_text();
  const std::optional<int64_t> checked = tree_.ReadProduct<int64_t>("LAST_NEWSFEED_CHECK");
  ASSERT_TRUE(checked.has_value());
  EXPECT_LE(std::abs(*checked - Now()), 60);

  // The next day (by the daily mark): asked again, b is skipped as seen.
  ASSERT_TRUE(tree_.WriteProduct<int64_t>("LAST_NEWSFEED_CHECK", *checked - kDay));
  RunOneStart();
  EXPECT_EQ(server_.requests(), 2);
  EXPECT_EQ(Shown("console show-newsfeed id=a "), 1u);
  EXPECT_NE(data_text().find("<old>\n\t\t<b>1</b>\n\t\t<a>1</a>"), std::string::npos)
      << data_text();
}

// The gate's rules are the news feed unit test's; here the agent keeps to it.
TEST_F(AgentNewsfeedTest, LocalClockAloneDoesNotPassTheInstallationGate) {
  Answer("<newsfeeds>" + NewsItemXml("a") + "</newsfeeds>");
  server_seconds_ = Now();
  auto agent = tree_.StartAndWait();
  ASSERT_NE(agent, nullptr);
  EXPECT_TRUE(tree_.WaitForLog("NEWSFEED: No check because of installdate", milliseconds(15000)))
      << tree_.Diagnostics();
  ASSERT_EQ(agent->Stop(), 0);
  EXPECT_EQ(server_.requests(), 0);
  EXPECT_EQ(DataInode(), 0u) << "no data.xml before the gate passes";
}

// Closing while the check waits ends that wait at once, whatever it waits
// for: the news service (its time-out alone is 120 s), the desktop's word
// that it took the item (10 s; the server here never answers) or the time
// server (20 s here).
TEST_F(AgentNewsfeedTest, ClosingEndsPromptlyWhereverTheCheckWaits) {
  const std::string servers = "servers=127.0.0.1:" + std::to_string(sntp_.port());
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  TestNotificationServer server(bus.address(), {"actions"});
  ASSERT_TRUE(server.ok());
  server.answers = false;
  // What the check waits for, the preparation, the sign that it waits, the bound.
  const std::tuple<const char*, std::function<void()>, std::function<bool()>, milliseconds>
      kCases[] = {
          {"the news service", [&] { Answer(kStall); }, [&] { return server_.requests() == 1; },
           milliseconds(5000)},
          {"the desktop",
           [&] {
             Answer("<newsfeeds>" + NewsItemXml("a") + "</newsfeeds>");
             // The Console's desktop side needs a display's name, not a display:
             // news items are notifications, which the agent shows.
             tree_.AddDesktopConsole();
             bus.ExportToEnvironment();
             setenv("DISPLAY", ":99", 1);
             setenv("WARDEX_SHELL", "desktop", 1);
           },
           [&] {
             server.Pump();
             return !server.notifications.empty();
           },
           milliseconds(1000)},
          {"the time server",
           [&] {
             sntp_silent_ = true;
             tree_.ReplaceInInstallConfig(servers, servers + "\nreply_timeout=20000");
           },
           [&] { return sntp_.requests() > 0; }, milliseconds(5000)},
      };
  for (const auto& [waits_for, prepare, waiting, bound] : kCases) {
    SCOPED_TRACE(waits_for);
    ASSERT_TRUE(tree_.WriteProduct<int64_t>("LAST_NEWSFEED_CHECK", 0));
    prepare();
    auto agent = tree_.StartAndWait();
    ASSERT_NE(agent, nullptr);
    ASSERT_TRUE(WaitFor(waiting, milliseconds(15000))) << tree_.Diagnostics();
    const auto start = steady_clock::now();
    ASSERT_EQ(agent->Stop(), 0) << tree_.Diagnostics();
    const auto took = std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
    setenv("WARDEX_SHELL", "test", 1);
    unsetenv("DISPLAY");
    std::printf("closing while the check waits for %s took %lld ms\n", waits_for,
                static_cast<long long>(took.count()));
    EXPECT_LT(took, bound);
  }
  EXPECT_EQ(Logged("ERROR ## NEWSFEED - Error connect 3 (system code 12017)"), 1u);
  EXPECT_EQ(server_.requests(), 2) << "the time server's case asks the service nothing";
  // The item the Console did not confirm is not remembered as shown.
  EXPECT_NE(data_text().find("<client>"), std::string::npos);
  EXPECT_EQ(data_text().find("<old>"), std::string::npos) << data_text();
}

}  // namespace
}  // namespace wardex::test
