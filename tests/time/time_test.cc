#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <tuple>

#include "crashlog/log_test_util.h"
#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/system_paths.h"
#include "sntp_responder.h"
#include "support/test_env.h"
#include "time/sntp_client.h"
#include "time/time_server_time.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

using Clock = std::chrono::steady_clock;
using test::SntpResponder;
using Bytes = SntpResponder::Bytes;

constexpr int64_t kSecondsFrom1900To1970 = 2208988800LL;
// 2030-06-15 12:00:00 UTC.
constexpr int64_t kServerUnixTime = 1907755200LL;
constexpr auto kServerSntpSeconds = static_cast<uint32_t>(kServerUnixTime + kSecondsFrom1900To1970);

class ShortTimeoutClient : public CSNTPClient {
 public:
  explicit ShortTimeoutClient(uint32_t timeout_ms) { m_timeoutMs = timeout_ms; }
};

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

KaOSAL::KaString Loopback() { return u"127.0.0.1"; }

// "host:port", as install.cfg lists a server.
std::string HostPort(const CTimeServerTime::Server& server) {
  return KaOSAL::ToUtf8(server.host.c_str()) + ":" + std::to_string(server.port);
}

TEST(SntpClientTest, OneExchangeFillsTheAnswer) {
  Bytes request;
  SntpResponder server([&request](const Bytes& received) {
    request = received;
    return SntpResponder::GoodAnswer(received, kServerSntpSeconds, 0x40000000, 1);
  });
  ShortTimeoutClient client(2000);
  SntpAnswer answer;
  const int64_t before = std::time(nullptr);
  ASSERT_TRUE(client.GetServerTime(Loopback(), answer, server.port()));
  ASSERT_EQ(server.requests(), 1);  // which also makes |request| safe to read
  ASSERT_EQ(request.size(), 48u);
  EXPECT_EQ(request[0], 27);
  for (size_t i = 1; i < 40; ++i) EXPECT_EQ(request[i], 0) << i;
  SntpTimestamp sent = 0;
  for (size_t i = 40; i < 48; ++i) sent = sent << 8 | request[i];
  EXPECT_NEAR(static_cast<double>(sent >> 32), static_cast<double>(before + kSecondsFrom1900To1970),
              2);

  const SntpTimestamp received = SntpTimestamp{kServerSntpSeconds} << 32;
  EXPECT_EQ(std::tie(answer.leap_indicator, answer.stratum, answer.originate, answer.receive,
                     answer.transmit),
            std::make_tuple(1, 2, sent, received | 0x40000000, received | 0xC0000000));
  EXPECT_GE(answer.destination, answer.originate);
  // The server held the request for half a second it never had.
  EXPECT_NEAR(answer.round_trip_delay, SntpDifference(answer.destination, answer.originate) - 0.5,
              1e-6);
  EXPECT_NEAR(answer.local_clock_offset, static_cast<double>(kServerUnixTime - before), 3);
}

TEST(SntpClientTest, TheStopCheckEndsTheWaitForASilentServer) {
  SntpResponder server(nullptr);
  ShortTimeoutClient client(20000);
  const auto start = Clock::now();
  client.SetStopCheck([&start] { return MillisecondsSince(start) >= 300; });
  SntpAnswer answer;
  EXPECT_FALSE(client.GetServerTime(Loopback(), answer, server.port()));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kWsaTimedOut);
  const int64_t waited = MillisecondsSince(start);
  EXPECT_GE(waited, 300);
  EXPECT_LT(waited, 5000);  // the time-out is 20 s
}

TEST(SntpClientTest, RepliesThatFailTheClientChecksAreNoAnswer) {
  using Change = std::function<void(Bytes&, const Bytes&)>;  // the reply, the request
  const std::tuple<const char*, Change, bool> kCases[] = {
      {"well-formed", [](Bytes&, const Bytes&) {}, true},
      {"with a key and digest (68 bytes)", [](Bytes& r, const Bytes&) { r.resize(68, 0xAB); },
       true},
      {"leap indicator 2", [](Bytes& r, const Bytes&) { r[0] = (r[0] & 0x3F) | 2 << 6; }, true},
      {"stratum 1", [](Bytes& r, const Bytes&) { r[1] = 1; }, true},
      {"stratum 15", [](Bytes& r, const Bytes&) { r[1] = 15; }, true},
      {"one byte", [](Bytes& r, const Bytes&) { r.resize(1); }, false},
      {"47 bytes", [](Bytes& r, const Bytes&) { r.resize(47); }, false},
      {"our request echoed", [](Bytes& r, const Bytes& request) { r = request; }, false},
      {"mode 5 (broadcast)", [](Bytes& r, const Bytes&) { r[0] = (r[0] & 0xF8) | 5; }, false},
      {"leap indicator 3", [](Bytes& r, const Bytes&) { r[0] |= 3 << 6; }, false},
      {"stratum 0 (kiss-o'-death)", [](Bytes& r, const Bytes&) { r[1] = 0; }, false},
      {"stratum 16", [](Bytes& r, const Bytes&) { r[1] = 16; }, false},
      {"another originate time", [](Bytes& r, const Bytes&) { r[31] ^= 1; }, false},
      {"no transmit time", [](Bytes& r, const Bytes&) { std::fill(r.begin() + 40, r.end(), 0); },
       false},
  };
  for (const auto& [what, change, accepted] : kCases) {
    SCOPED_TRACE(what);
    SntpResponder server([&change](const Bytes& request) {
      Bytes reply = SntpResponder::GoodAnswer(request, kServerSntpSeconds);
      change(reply, request);
      return reply;
    });
    ShortTimeoutClient client(2000);
    SntpAnswer answer;
    KaOSAL::SetLastError(0);
    EXPECT_EQ(client.GetServerTime(Loopback(), answer, server.port()), accepted);
    if (!accepted) {
      EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidData);
    }
  }
}

TEST(SntpTimestampTest, OnlyDatesFrom1970AreAccepted) {
  const std::tuple<uint32_t, uint32_t, bool, int64_t> kCases[] = {
      {0, 0, false, 0},                                  // 1900-01-01: the zero answer
      {2208988799u, 0, false, 0},                        // 1969-12-31 23:59:59
      {2208988800u, 0, true, 0},                         // 1970-01-01 00:00:00
      {3913056000u, 0xFFFFFFFF, true, 1704067200},       // 2024-01-01, fraction ignored
      {1709210096u + 2208988800u, 0, true, 1709210096},  // 2024-02-29 12:34:56
      {4294967295u, 0, true, 2085978495},                // 2036-02-07 06:28:15
      {0, 1, true, 2085978496},                          // era 1: 2036-02-07 06:28:16
      {86400, 0, true, 2086064896},                      // 2036-02-08 06:28:16
      {2147483647u, 0, true, 4233462143},                // 2104-02-26 09:42:23
      {2147483648u, 0, false, 0},                        // 1968-01-20: era 0 again
  };
  for (const auto& [sntp_seconds, fraction, accepted, unix_seconds] : kCases) {
    SCOPED_TRACE(sntp_seconds);
    int64_t seconds = -1;
    EXPECT_EQ(SntpTimestampToUnixSeconds(SntpTimestamp{sntp_seconds} << 32 | fraction, &seconds),
              accepted);
    if (accepted) {
      EXPECT_EQ(seconds, unix_seconds);
    }
  }
  // Differences across the change of era stay small.
  EXPECT_DOUBLE_EQ(SntpDifference(SntpTimestamp{2} << 32, SntpTimestamp{0xFFFFFFFEu} << 32), 4.0);
}

TEST(TimeServerListTest, EntriesAreHostOrHostAndPort) {
  // The entry, and what it is read as ("": refused).
  const std::pair<const char16_t*, const char*> kCases[] = {
      {u"pool.example", "pool.example:123"},
      {u"127.0.0.1:10123", "127.0.0.1:10123"},
      {u"host:1", "host:1"},
      {u"host:65535", "host:65535"},
      {u"host:65536", ""},
      {u"host:0", ""},
      {u"host:", ""},
      {u"host:12a", ""},
      {u":123", ""},
      {u"", ""},
  };
  for (const auto& [entry, read_as] : kCases) {
    SCOPED_TRACE(KaOSAL::ToUtf8(entry));
    CTimeServerTime::Server server;
    EXPECT_EQ(ParseTimeServer(entry, &server) ? HostPort(server) : "", read_as);
  }
}

// install.cfg is read beside the running executable at every call: the cases
// below write one there for their time (this program's cases take turns).
class InstallConfig {
 public:
  explicit InstallConfig(const std::string& text) {
    EXPECT_TRUE(test::WriteFile(path_.string(), text));
  }
  ~InstallConfig() { std::filesystem::remove(path_); }

 private:
  const std::filesystem::path path_ =
      std::filesystem::path(KaOSAL::ToUtf8(platform::GetExecutableFilePath().c_str()))
          .replace_filename("install.cfg");
};

// The configured servers as install.cfg lists them.
std::string Listed(const CTimeServerTime& time) {
  std::string listed;
  for (const CTimeServerTime::Server& server : time.servers())
    listed += (listed.empty() ? "" : ", ") + HostPort(server);
  return listed;
}

TEST(TimeServerTimeTest, WithoutConfigurationTheDefaultsApply) {
  const std::pair<const char*, const char*> kCases[] = {
      {"no time section", "[install]\nlang=en\n"},
      {"empty values", "[time]\nservers=\nreply_timeout=\n"},
      {"negative time-out", "[time]\nreply_timeout=-5\n"},
  };
  for (const auto& [what, install_cfg] : kCases) {
    SCOPED_TRACE(what);
    InstallConfig config(install_cfg);
    CTimeServerTime time;
    EXPECT_EQ(time.timeout_ms(), 5000u);
    EXPECT_EQ(Listed(time), "129.6.15.28:123, pool.ntp.org:123, time.nist.gov:123");
  }
}

// Servers are asked in their order until one answers; the local clock serves
// when none does, one answers with a zero receive time or no entry is valid.
TEST(TimeServerTimeTest, ServersAreAskedInTurnUntilOneAnswers) {
  // Stratum 0, the kiss-o'-death: a server that refuses.
  const SntpResponder::Reply refusing = [](const Bytes& request) {
    Bytes reply = SntpResponder::GoodAnswer(request, 0);
    reply[1] = 0;
    return reply;
  };
  const SntpResponder::Reply zero_receive = [](const Bytes& request) {
    Bytes reply = SntpResponder::GoodAnswer(request, kServerSntpSeconds);
    std::fill(reply.begin() + 32, reply.begin() + 40, 0);
    return reply;
  };
  const SntpResponder::Reply silent;
  const SntpResponder::Reply good = [](const Bytes& request) {
    return SntpResponder::GoodAnswer(request, kServerSntpSeconds);
  };
  // What, the servers' replies, what follows each entry's port, the time-out,
  // whether the time is the server's (else the local clock), the requests
  // each got, the least time.
  using Replies = std::vector<SntpResponder::Reply>;
  const std::tuple<const char*, Replies, std::string, uint32_t, bool, std::vector<int>, int64_t>
      kCases[] = {
          {"silent, refusing give way", {silent, refusing, good}, "", 300, true, {1, 1, 1}, 300},
          {"a zero receive time ends it", {zero_receive, good}, "", 300, false, {1, 0}, 0},
          // Three silent servers, each waited for: 3 x (200 + 20) ms.
          {"all silent, each waited for", {silent, silent, silent}, "", 200, false, {1, 1, 1}, 660},
          {"no valid entry", {good}, "x", 300, false, {0}, 0},
      };
  test::ScopedTestRoot root;
  const std::string log = root.path() + "/wardex.log";
  test::SetEnv("WARDEX_LOG_FILE", log);
  for (const auto& [what, replies, typo, timeout_ms, server_time, requests, at_least_ms] : kCases) {
    SCOPED_TRACE(what);
    std::ofstream(log, std::ios::trunc);  // the logger keeps it open
    std::vector<std::unique_ptr<SntpResponder>> responders;
    std::string list;
    for (const SntpResponder::Reply& reply : replies) {
      responders.push_back(std::make_unique<SntpResponder>(reply));
      list += (list.empty() ? "" : ", ") + std::string("127.0.0.1:") +
              std::to_string(responders.back()->port()) + typo;
    }
    InstallConfig config("[time]\nservers=" + list +
                         "\nreply_timeout=" + std::to_string(timeout_ms) + "\n");
    const int64_t before = std::time(nullptr);
    const auto start = Clock::now();
    CTimeServerTime time;
    // Local responders only: without install.cfg the public default list would be asked.
    ASSERT_EQ(Listed(time), typo.empty() ? list : "");
    int64_t out = 0;
    const int64_t result = time.GetTime(&out);
    EXPECT_GE(MillisecondsSince(start), at_least_ms);
    EXPECT_EQ(time.timeout_ms(), timeout_ms);
    if (server_time) {
      EXPECT_EQ(result, kServerUnixTime);
    } else {
      EXPECT_GE(result, before);
      EXPECT_LE(result, std::time(nullptr));
    }
    EXPECT_EQ(out, result);
    std::vector<int> asked;
    for (const auto& responder : responders) asked.push_back(responder->requests());
    EXPECT_EQ(asked, requests);
    if (!typo.empty()) {
      EXPECT_EQ(test::LoggedAt(log, kLogError),
                (std::vector<std::string>{
                    "CTimeServerTime: invalid time server \"" + list + "\" ignored",
                    "CTimeServerTime: no valid entry in [time] servers, using the local clock"}));
    }
  }
  test::UnsetEnv("WARDEX_LOG_FILE");
}

}  // namespace
}  // namespace wardex
