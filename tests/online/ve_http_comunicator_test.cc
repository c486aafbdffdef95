// The HTTP client against HTTPS servers on 127.0.0.1, on Linux in a private
// network namespace whose only route is loopback (this program's main enters
// it).
#include "online/ve_http_comunicator.h"
#include "online/ve_simple_xml_http_comunicator.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/utsname.h>
#endif

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <tuple>

#include "crashlog/log_test_util.h"
#include "https_test_server.h"
#include "osal/wide_format.h"
#include "platform/internet_errors.h"
#include "platform/product_version.h"
#include "platform/seh_guard.h"
#include "support/test_env.h"

namespace wardex {
namespace {

using Clock = std::chrono::steady_clock;
using KaOSAL::KaString;
using test::HttpsTestServer;
namespace errors = platform;

constexpr uint32_t kConnectTimeoutMs = 500;
constexpr uint32_t kStallTimeoutMs = 1000;

KaString Wide(const std::string& text) { return KaString(text.c_str(), KaOSAL::KA_CP_UTF8); }

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

using TestComunicator = test::TrustingTestCa<CVeHTTPComunicator>;

// How a request ended: its error kind, system error, answer and the error
// lines it logged.
struct Outcome {
  uint32_t kind = 0, system_error = 0;
  std::string answer;
  std::vector<std::string> errors;
  bool operator==(const Outcome&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << o.kind << " " << o.system_error << " \"" << o.answer.substr(0, 40) << "\" "
               << testing::PrintToString(o.errors);
  }
};

class HttpComunicatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.Set("WARDEX_LOG_FILE", log_path());
    // NetworkManager is not asked: the namespace's route decides.
    root_.Set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/wardex-test-bus");
    for (const char* proxy : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      root_.Unset(proxy);
  }

  std::string log_path() const { return root_.path() + "/wardex.log"; }
  // The texts of the log lines at |level|, in order.
  std::vector<std::string> Logged(int level) const { return test::LoggedAt(log_path(), level); }
  // Requests |url| with |body|.
  Outcome Post(CVeHTTPComunicator& client, const std::string& url,
               const std::string& body = "") const {
    std::ofstream(log_path(), std::ios::trunc);  // open in the logger: emptied, not removed
    std::string answer = client.HttpPost(Wide(url), body);
    return {client.GetErrorKind(), client.GetSystemError(), std::move(answer), Logged(kLogError)};
  }

  test::ScopedTestRoot root_;
};

// Also the XML client's, which reads whatever answer comes.
TEST_F(HttpComunicatorTest, PostsWithTheHeadersAndTheVerbOfTheBodyAndReusesTheConnection) {
  HttpsTestServer server;
  const auto echo = [](const httplib::Request& request, httplib::Response& response) {
    response.body = "got " + request.body;
  };
  server.Handle("/echo", echo);
  server.Serve("/gone", {.status = 410, .body = "<error>gone</error>"});
  server.Serve("/empty", {});
  server.Start();
  TestComunicator client;
  client.SetContentTypes(u"text/xml; charset=utf-8", u"");
  EXPECT_EQ(Post(client, server.Url("/echo?x=1"), "<a>1</a>"), (Outcome{0, 0, "got <a>1</a>", {}}));
  httplib::Request seen = server.last_request();
  EXPECT_EQ(std::tuple(seen.method, seen.target, seen.get_header_value("Accept"),
                       seen.get_header_value("Content-Type"), seen.get_header_value("Referer"),
                       seen.headers.count("expect")),
            std::tuple("POST", "/echo?x=1", "*/*", "text/xml; charset=utf-8",
                       server.Url("/echo?x=1"), 0u));
  const std::string agent = seen.get_header_value("User-Agent");
  const std::string product = "/" + KaOSAL::ToUtf8(platform::kProductVersion) + " (";
#if defined(_WIN32)
  EXPECT_EQ(agent.rfind(product + "Windows NT ", 0), 0u) << agent;
#else
  utsname names{};
  uname(&names);
  EXPECT_EQ(agent, product + names.sysname + " " + names.release + "; " + names.machine + ")")
      << "no ProductTrackingName in this test's install.cfg";
#endif

  // The verb follows the body and its length.
  const std::string large(1000001, 'L');
  const std::tuple<std::string, int64_t, const char*, std::string> kVerbs[] = {
      {"", -1, "GET", ""},
      {"abc", 0, "GET", ""},
      {"DELETE", -1, "DELETE", ""},
      {"DELETEME", 6, "DELETE", ""},
      {"DELETEME", -1, "POST", "DELETEME"},
      {"abcdef", 3, "POST", "abc"},
      {"abc", 99, "POST", "abc"},
      {large, -1, "POST", large},
  };
  const KaString url = Wide(server.Url("/echo?x=1"));
  for (const auto& [body, length, method, sent] : kVerbs) {
    EXPECT_EQ((std::tuple{client.HttpPost(url, body, length), client.GetErrorKind(),
                          server.last_request().method, server.last_request().body}),
              std::tuple("got " + sent, 0u, method, sent));
  }
  EXPECT_EQ(server.requests(), 9);
  EXPECT_EQ(server.connections(), 1u) << "one session, one connection";
  EXPECT_TRUE(Logged(kLogError).empty());

  SimpleXMLElement request;
  request.SetName(u"client");
  test::TrustingTestCa<CVeSimpleXMLHTTPComunicator> xml;
  EXPECT_EQ(xml.RequestXML(Wide(server.Url("/gone")), request)->GetValue(), u"gone");
  EXPECT_EQ(xml.GetErrorKind(), 410u);
  seen = server.last_request();
  EXPECT_EQ(
      std::tuple(seen.get_header_value("Content-Type"), seen.get_header_value("Accept"), seen.body),
      std::tuple("text/xml; charset=utf-8", "*/*", request.ToXml()));
  EXPECT_FALSE(xml.RequestXML(Wide(server.Url("/empty")), request)->HasContent());
  EXPECT_EQ(xml.GetErrorKind(), 0u);
}

// The agent passes no port: an address without one goes to 443, also for http.
TEST_F(HttpComunicatorTest, AddressForms) {
#if defined(_WIN32)
  GTEST_SKIP() << "port 443 is this machine's own outside a private network namespace";
#endif
  HttpsTestServer server("https-server", 443);
  ASSERT_EQ(server.port(), 443) << "port 443 is free in the private namespace";
  server.Serve("/x", {.body = "x"});
  server.Start();
  const std::pair<std::string, Outcome> kCases[] = {
      {"https://127.0.0.1/x", {0, 0, "x", {}}},
      {"http://127.0.0.1/x", {0, 0, "x", {}}},
      {"http://127.0.0.1:443/x", {0, 0, "x", {}}},
      {"127.0.0.1/x", {2, 0, "", {"HTTPCOM: inncorrect URL 127.0.0.1/x"}}},
      {"://127.0.0.1/x", {2, 0, "", {"HTTPCOM: inncorrect URL ://127.0.0.1/x"}}},
      {"https:///x", {2, 0, "", {}}},
      {"", {2, 0, "", {"HTTPCOM: empty URL"}}},
  };
  for (const auto& [url, outcome] : kCases) {
    TestComunicator client;
    EXPECT_EQ(Post(client, url), outcome) << url;
  }
}

// The answers a server may give: status, body forms and redirects.
TEST_F(HttpComunicatorTest, AnswerForms) {
  HttpsTestServer server;
  const std::string body(300000, 'c');
  using Framing = httplib::Response::Framing;
  server.Serve("/missing", {.status = 404, .body = "not here"});
  server.Serve("/chunked", {.body = body, .framing = Framing::kChunked});
  server.Serve("/closing", {.body = body.substr(0, 20000), .framing = Framing::kUntilClose});
  server.Serve("/half", {.body = body.substr(0, 50000), .length = 100000});  // closes mid-body
  const std::string self = server.Url("/self");
  server.Serve("/self", {.status = 301, .location = self});
  server.Serve("/plain-self",
               {.status = 302,
                .location = "http://127.0.0.1:" + std::to_string(server.port()) + "/plain-self"});
  server.Serve("/no-location", {.status = 302});
  server.Serve("/relative", {.status = 302, .location = "/target"});
  server.Serve("/target", {.body = "arrived"});
  // Targets whose scheme or host only a URL parser tells apart.
  const std::map<std::string, std::string> kTargets = {
      {"/query-names-a-host", "/target?next=https://elsewhere.invalid/x"},
      {"/upper-case-scheme", "HTTPS://127.0.0.1:" + std::to_string(server.port()) + "/target"},
      {"/other-scheme", "ftp://127.0.0.1/target"},
  };
  for (const auto& [from, to] : kTargets) server.Serve(from, {.status = 302, .location = to});
  // /chain/N redirects to /chain/N-1; /chain/0 answers.
  server.Handle(R"(/chain/(\d+))", [](auto& request, auto& response) {
    const int left = std::stoi(request.matches[1]);
    response = left == 0 ? httplib::Response{.body = "end of chain"}
                         : httplib::Response{.status = left % 2 == 0 ? 301 : 302,
                                             .location = "/chain/" + std::to_string(left - 1)};
  });
  server.Start();
  const int max = CVeHTTPComunicator::kMaxRedirects;
  constexpr uint32_t kAny = 0xFFFFFFFF;  // kind 6 keeps whatever the last error is
  const std::string redirect_problem = "HTTPCOM: Security Error Redir problem ";
  const std::pair<std::string, Outcome> kCases[] = {
      {"/missing", {404, 404, "not here", {"HTTPCOM: Error HTTP Status 404"}}},
      {"/chunked", {0, 0, body, {}}},
      {"/closing", {0, 0, body.substr(0, 20000), {}}},
      {"/half",
       {errors::kInternetConnectionAborted,
        0,
        body.substr(0, 50000),
        {"HTTPCOM: Error read content 12030"}}},
      {"/self", {6, kAny, "", {redirect_problem + self}}},
      {"/plain-self", {6, kAny, "", {redirect_problem + server.Url("/plain-self")}}},
      {"/no-location", {6, kAny, "", {redirect_problem + server.Url("/no-location")}}},
      {"/relative", {0, 0, "arrived", {}}},
      {"/query-names-a-host", {0, 0, "arrived", {}}},
      {"/upper-case-scheme", {0, 0, "arrived", {}}},
      {"/other-scheme",
       {2, 0, "", {"HTTPCOM: redirect to ftp://127.0.0.1/target refused: not HTTPS"}}},
      {"/chain/" + std::to_string(max), {0, 0, "end of chain", {}}},
      {"/chain/" + std::to_string(max + 1),
       {4, errors::kInternetRedirectFailed, "", {"HTTPCOM: Exception 12156"}}},
  };
  for (const auto& [path, outcome] : kCases) {
    TestComunicator client;
    Outcome got = Post(client, server.Url(path));
    if (outcome.system_error == kAny) got.system_error = kAny;
    EXPECT_EQ(got, outcome) << path;
  }
}

TEST_F(HttpComunicatorTest, CertificatesAreVerified) {
  // The certificate, the host, whether the client trusts the test CA (else it
  // has the product's settings: no install.cfg is beside this program), the
  // system error.
  const std::tuple<const char*, const char*, bool, uint32_t> kCases[] = {
      {"https-server", "127.0.0.1", true, 0},
      {"https-server", "localhost", true, 0},
      // Windows: the tests put the test CA into the system's store.
      {"https-server", "127.0.0.1", false,
       test::RunningUnderWine() ? 0 : errors::kInternetInvalidCa},
      {"https-expired", "127.0.0.1", true, errors::kInternetCertDateInvalid},
      {"https-other-name", "127.0.0.1", true, errors::kInternetCertNameInvalid},
      // Wine reports an unknown root as a failed revocation check when the
      // server sends its certificate alone.
      {"https-untrusted", "127.0.0.1", true,
       test::RunningUnderWine() ? errors::kInternetCertRevocationFailed
                                : errors::kInternetInvalidCa},
  };
  for (const auto& [cert, host, trusts_test_ca, system_error] : kCases) {
    HttpsTestServer server(cert);
    server.Serve("/", {.body = "trusted"});
    server.Start();
    TestComunicator trusting;
    CVeHTTPComunicator product;
    const bool trusted = system_error == 0;
    const Outcome expected = trusted ? Outcome{0, 0, "trusted", {}}
                                     : Outcome{3, system_error, "", {"HTTPCOM: Error SendRequest"}};
    EXPECT_EQ(Post(trusts_test_ca ? trusting : product,
                   "https://" + std::string(host) + ":" + std::to_string(server.port())),
              expected)
        << cert;
    EXPECT_EQ(server.requests(), trusted ? 1 : 0);
  }
}

TEST_F(HttpComunicatorTest, SilentPeersEndWithinTheTimeouts) {
  test::SilentListener silent;
  HttpsTestServer server;
  server.Handle("/stall", [&server](auto&, auto&) { server.WaitForStop(); });
  server.Serve("/trickle", {.body = "first", .length = 1000, .hold = true});
  server.Start();
  const std::tuple<std::string, Outcome, int64_t> kCases[] = {
      {"https://127.0.0.1:" + std::to_string(silent.port()) + "/",
       {3, errors::kInternetTimeout, "", {"HTTPCOM: Error SendRequest"}},
       kConnectTimeoutMs},
      {server.Url("/stall"),
       {3, errors::kInternetTimeout, "", {"HTTPCOM: Error SendRequest"}},
       kStallTimeoutMs},
      {server.Url("/trickle"),
       {errors::kInternetTimeout, 0, "first", {"HTTPCOM: Error read content 12002"}},
       kStallTimeoutMs},
  };
  for (const auto& [url, outcome, at_least_ms] : kCases) {
    TestComunicator client;
    client.settings.connect_timeout_ms = kConnectTimeoutMs;
    client.settings.stall_timeout_ms = kStallTimeoutMs;
    const auto start = Clock::now();
    EXPECT_EQ(Post(client, url), outcome) << url;
    const int64_t elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, at_least_ms - 50);
    EXPECT_LT(elapsed, at_least_ms + 15000) << "a loaded machine, but no 120 s wait";
  }
}

TEST_F(HttpComunicatorTest, HugeAnswersAreRefused) {
  HttpsTestServer server;
  const std::string block(65536, 'h');
  // One sends without a length, without end, the other announces a gigabyte
  // and would send it. In this order: under Wine the connection of a refused
  // announced gigabyte held up the next request now and then.
  server.Serve("/announced", {.body = block, .length = 1ull << 30, .repeat = true});
  server.Serve("/endless",
               {.body = block, .framing = httplib::Response::Framing::kChunked, .repeat = true});
  server.Start();
  const uint64_t bound = platform::HttpSessionSettings().max_answer_bytes;
  for (const char* path : {"/endless", "/announced"}) {
    TestComunicator client;
    Outcome got = Post(client, server.Url(path));
    EXPECT_LE(got.answer.size(), bound);
    got.answer.clear();
    EXPECT_EQ(got,
              (Outcome{errors::kErrorNotEnoughMemory, 0, "", {"HTTPCOM: Error read content 8"}}))
        << path;
  }
}

TEST_F(HttpComunicatorTest, AStopEndsTheRequestAndTheLaterOnes) {
  HttpsTestServer server;
  server.Handle("/stall", [&server](auto&, auto&) { server.WaitForStop(); });
  server.Start();
  std::atomic<bool> stop{false};
  // The product's 120 s time-outs: only the stop can end this request soon.
  // Under Wine a blocked WinINet call cannot be ended from outside: the stop returns at
  // once and leaves the call on its own thread, which this test never joins.
  TestComunicator trusting;
  trusting.SetStopCheck([&stop] { return stop.load(); });
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop = true;
  });
  const auto start = Clock::now();
  EXPECT_EQ(trusting.HttpPost(Wide(server.Url("/stall")), ""), "");
  const int64_t elapsed = MillisecondsSince(start);
  stopper.join();
  EXPECT_EQ(std::pair(trusting.GetErrorKind(), trusting.GetSystemError()),
            std::pair(3u, errors::kInternetOperationCancelled));
  EXPECT_LT(elapsed, 500 + 10000) << "ended by the stop, not the 120 s time-out";

  const auto later = Clock::now();
  EXPECT_EQ(trusting.HttpPost(Wide(server.Url("/stall")), ""), "");
  EXPECT_EQ(trusting.GetSystemError(), errors::kInternetOperationCancelled);
  EXPECT_LT(MillisecondsSince(later), 5000);
}

#if !defined(_WIN32)
TEST_F(HttpComunicatorTest, WithoutARouteThereIsNoSession) {
  ASSERT_EQ(std::system("ip route del default dev lo"), 0);
  TestComunicator client;
  EXPECT_FALSE(client.CheckConnection());
  EXPECT_EQ(Logged(kLogError),
            std::vector<std::string>{"CVeHTTPComunicator::CheckConnection() # "
                                     "get_IsConnectedToInternet returned false. No Internet."});
  EXPECT_EQ(
      Post(client, "https://127.0.0.1/x"),
      (Outcome{1, errors::kInternetDisconnected, "", {"HTTPCOM: Error GetConnectedState 12163"}}));
  ASSERT_EQ(std::system("ip route add default dev lo"), 0);
  EXPECT_TRUE(client.CheckConnection());
}
#else
// Wine's Network List Manager answers connected on a machine with a network
// (this one); a disconnected machine cannot be shown under Wine.
TEST_F(HttpComunicatorTest, TheNetworkListManagerAnswers) {
  TestComunicator client;
  EXPECT_TRUE(client.CheckConnection());
  EXPECT_TRUE(Logged(kLogError).empty());
}
#endif

TEST_F(HttpComunicatorTest, AnExceptionInTheRequestIsKind5) {
  struct Raising : CVeHTTPComunicator {
    platform::HttpSessionSettings SessionSettings() const override {
      platform::RaiseException(platform::kExceptionAccessViolation);
    }
  } client;
  Outcome got = Post(client, "https://127.0.0.1:1/x");
  got.system_error = 0;  // the last error of whatever ran when it struck
  EXPECT_EQ(got, (Outcome{5, 0, "", {"HTTPCOM: Exception SendRequest"}}));
}

}  // namespace
}  // namespace wardex
