// CSNTPClient: one SNTP exchange (RFC 4330, a single request and answer over
// UDP) with one time server.
#pragma once

#include <cstdint>
#include <functional>

#include "osal/ka_string.h"

namespace wardex {

// SNTP timestamps: seconds since 1900-01-01 00:00 UTC in the high 32 bits,
// the binary fraction of a second in the low 32 bits.
using SntpTimestamp = uint64_t;

// The result of one exchange.
struct SntpAnswer {
  int leap_indicator = 0;  // top two bits of the answer's first byte
  int stratum = 0;         // the answer's second byte
  SntpTimestamp originate = 0;
  SntpTimestamp receive = 0;
  SntpTimestamp transmit = 0;
  SntpTimestamp destination = 0;  // the local clock when the answer came
  double round_trip_delay = 0;    // seconds
  double local_clock_offset = 0;  // seconds
};

class CSNTPClient {
 public:
  static constexpr uint16_t kSntpPort = 123;
  static constexpr uint32_t kDefaultTimeoutMs = 5000;

  CSNTPClient() = default;
  virtual ~CSNTPClient() = default;
  CSNTPClient(const CSNTPClient&) = delete;
  CSNTPClient& operator=(const CSNTPClient&) = delete;

  // One exchange with |server| (dotted IPv4 address or host name) on |port|.
  // False on failure, with the last error saying why (10060: no answer
  // within the time-out; 13: a reply that fails the client checks: shorter
  // than 48 bytes, not mode 4, leap indicator 3, stratum outside 1-15, an
  // originate time other than our transmit time, or no transmit time).
  [[nodiscard]] bool GetServerTime(const KaOSAL::KaString& server, SntpAnswer& answer,
                                   uint16_t port = kSntpPort);

  uint32_t timeout_ms() const { return m_timeoutMs; }
  // Asked while a reply is awaited; true ends the wait at once (the exchange
  // fails with 10060), so that a closing program is not held for a time-out.
  void SetStopCheck(std::function<bool()> stop) { m_stop = std::move(stop); }

 protected:
  bool Stopped() const { return m_stop && m_stop(); }

  uint32_t m_timeoutMs = kDefaultTimeoutMs;  // the reply time-out
  std::function<bool()> m_stop;
};

// The local clock (UTC) as an SNTP timestamp, the fraction from its milliseconds.
[[nodiscard]] SntpTimestamp LocalClockAsSntpTimestamp();
// |later| - |earlier| in seconds, the fractions scaled by 2^-32; the seconds
// are taken modulo 2^32, so the two may lie in different NTP eras.
[[nodiscard]] double SntpDifference(SntpTimestamp later, SntpTimestamp earlier);

}  // namespace wardex
