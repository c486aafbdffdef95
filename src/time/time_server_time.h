// CTimeServerTime: the current time from an ordered list of SNTP servers,
// falling back to the local clock when none gives a good answer.
//
// The list and the reply time-out come from install.cfg when given there:
//   [time]
//   servers=127.0.0.1:10123, time.example.org
//   reply_timeout=500
// "servers" lists "host" or "host:port" entries in the order they are asked,
// "reply_timeout" is in milliseconds. A ";" after a value is no comment: it
// and what follows stay part of the value. Without them: the three default
// servers and 5000 ms. Invalid entries are logged and left out; a list with
// no valid entry asks no server at all, so the local clock is used.
#pragma once

#include <cstdint>
#include <vector>

#include "osal/ka_string.h"
#include "time/sntp_client.h"

namespace wardex {

class CTimeServerTime : public CSNTPClient {
 public:
  // One server of the list.
  struct Server {
    KaOSAL::KaString host;
    uint16_t port = kSntpPort;
  };

  CTimeServerTime();

  // The current time in seconds since 1970 (UTC), from the first server that
  // answers, else from the local clock (also when the stop check ends the
  // search); also stored in |seconds| when given.
  int64_t GetTime(int64_t* seconds);

  const std::vector<Server>& servers() const { return m_servers; }

 private:
  std::vector<Server> m_servers;
};

// Parses one "host" or "host:port" entry; false for an empty host or a port
// that is not 1 to 65535.
[[nodiscard]] bool ParseTimeServer(const KaOSAL::KaString& entry, CTimeServerTime::Server* server);

// The UTC calendar date of an SNTP timestamp as seconds since 1970, when it
// passes the checks (year from 1970, month 1-12, day 1-31, hour up to 23,
// minute and second up to 59); false otherwise, and for a zero timestamp.
// Seconds without the top bit lie in the era after 2036-02-07.
[[nodiscard]] bool SntpTimestampToUnixSeconds(SntpTimestamp timestamp, int64_t* seconds);

}  // namespace wardex
