#include "time/time_server_time.h"

#include <cmath>

#include "config/install_config.h"
#include "osal/civil_date.h"
#include "osal/ka_string_list.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

// One fixed IPv4 address (time-a-g.nist.gov), then two pool names.
constexpr const char16_t* kDefaultServers[] = {u"129.6.15.28", u"pool.ntp.org", u"time.nist.gov"};
constexpr char16_t kConfigSection[] = u"time";
constexpr char16_t kServersKey[] = u"servers";
constexpr char16_t kTimeoutKey[] = u"reply_timeout";
constexpr uint32_t kNextServerDelayMs = 10;
constexpr int64_t kSecondsPerDay = 86400;
// SNTP counts from 1900-01-01.
constexpr int64_t kDaysFrom1900To1970 = 25567;
// Era 0 of the 32-bit seconds ends on 2036-02-07 06:28:16 UTC.
constexpr int64_t kSecondsPerEra = int64_t{1} << 32;

// A UTC calendar date and time.
struct CalendarTime {
  int64_t year;
  unsigned month, day, hour, minute, second, milliseconds;
};

// Returns the days from 1970-01-01 to a Gregorian date.
int64_t DaysFromCivil1970(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// As RFC 4330 reads the seconds: with the top bit set they count from 1900
// (1968-2036), without it from 2036-02-07 (2036-2104).
CalendarTime CalendarFromSntp(SntpTimestamp timestamp) {
  auto seconds = static_cast<int64_t>(timestamp >> 32);
  if (seconds < kSecondsPerEra / 2) seconds += kSecondsPerEra;
  const KaOSAL::CivilDate date =
      KaOSAL::CivilFromDays(seconds / kSecondsPerDay - kDaysFrom1900To1970);
  CalendarTime time{};
  time.year = date.year;
  time.month = date.month;
  time.day = date.day;
  const int64_t in_day = seconds % kSecondsPerDay;
  time.hour = static_cast<unsigned>(in_day / 3600);
  time.minute = static_cast<unsigned>(in_day % 3600 / 60);
  time.second = static_cast<unsigned>(in_day % 60);
  time.milliseconds =
      static_cast<unsigned>(std::lround((timestamp & 0xFFFFFFFF) * 1000.0 / 4294967296.0));
  return time;
}

// Returns the servers named in install.cfg, or the defaults when it names
// none. A list that is given but holds no valid entry gives no server at
// all: falling back to the public servers would send a site's packets off
// the machine because of a typo.
std::vector<CTimeServerTime::Server> ConfiguredServers() {
  std::vector<CTimeServerTime::Server> servers;
  const KaOSAL::KaString configured = ReadInstallConfig(kConfigSection, kServersKey, u"");
  if (configured.IsEmpty()) {
    for (const char16_t* host : kDefaultServers) servers.push_back({host, CSNTPClient::kSntpPort});
    return servers;
  }
  KaOSAL::KaStringList entries;
  (void)configured.Tokenize(u",", entries);
  for (int i = 0; i < entries.GetCount(); ++i) {
    KaOSAL::KaString entry = entries.GetAt(i);
    entry.Trim();
    CTimeServerTime::Server server;
    if (ParseTimeServer(entry, &server)) {
      servers.push_back(server);
    } else {
      LogW(kLogError, u"CTimeServerTime: invalid time server \"%s\" ignored", entry.c_str());
    }
  }
  if (servers.empty()) {
    LogW(kLogError, u"CTimeServerTime: no valid entry in [time] servers, using the local clock");
  }
  return servers;
}

}  // namespace

bool ParseTimeServer(const KaOSAL::KaString& entry, CTimeServerTime::Server* server) {
  const int colon = entry.ReverseFind(u':');
  if (colon < 0) {
    server->host = entry;
    server->port = CSNTPClient::kSntpPort;
    return !entry.IsEmpty();
  }
  const KaOSAL::KaString port = entry.Mid(colon + 1);
  if (port.IsEmpty() || port.SpanIncluding(u"0123456789").GetLength() != port.GetLength() ||
      port.GetLength() > 5) {
    return false;
  }
  const int number = port.ToInt();
  if (colon == 0 || number < 1 || number > 65535) return false;
  server->host = entry.Left(colon);
  server->port = static_cast<uint16_t>(number);
  return true;
}

bool SntpTimestampToUnixSeconds(SntpTimestamp timestamp, int64_t* seconds) {
  if (timestamp == 0) return false;  // a server's "no time"
  const CalendarTime time = CalendarFromSntp(timestamp);
  if (time.year < 1970 || time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 ||
      time.hour > 23 || time.minute > 59 || time.second > 59) {
    return false;
  }
  *seconds = DaysFromCivil1970(time.year, time.month, time.day) * kSecondsPerDay +
             time.hour * 3600 + time.minute * 60 + time.second;
  return true;
}

CTimeServerTime::CTimeServerTime() : m_servers(ConfiguredServers()) {
  const int timeout = ReadInstallConfig(kConfigSection, kTimeoutKey, u"").ToInt();
  if (timeout > 0) m_timeoutMs = static_cast<uint32_t>(timeout);
}

int64_t CTimeServerTime::GetTime(int64_t* seconds) {
  int64_t result = platform::CurrentWallClock().seconds;
  for (const Server& server : m_servers) {
    if (Stopped()) break;
    SntpAnswer answer;
    if (!GetServerTime(server.host, answer, server.port)) {
      if (Stopped()) break;
      platform::SleepMilliseconds(kNextServerDelayMs);
      continue;
    }
    int64_t from_server = 0;
    if (SntpTimestampToUnixSeconds(answer.receive, &from_server)) result = from_server;
    break;
  }
  if (seconds != nullptr) *seconds = result;
  return result;
}

}  // namespace wardex
