#include "time/sntp_client.h"

#include <algorithm>
#include <cmath>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/udp_socket.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

constexpr size_t kRequestSize = 48;
constexpr size_t kAnswerBufferSize = 68;
constexpr uint8_t kClientRequestByte = 27;  // leap indicator 0, version 3, mode 3 (client)
constexpr int kServerMode = 4;
constexpr int kLeapAlarm = 3;  // the server's clock is not synchronised
constexpr int kHighestStratum = 15;
constexpr uint32_t kSettleMs = 10;
constexpr uint32_t kStopPollMs = 100;
constexpr int64_t kSecondsFrom1900To1970 = 2208988800LL;
constexpr double kFractionScale = 4294967296.0;  // 2^32

void WriteBigEndian(uint8_t* out, SntpTimestamp value) {
  for (int i = 7; i >= 0; --i) {
    out[i] = static_cast<uint8_t>(value & 0xFF);
    value >>= 8;
  }
}

SntpTimestamp ReadBigEndian(const uint8_t* in) {
  SntpTimestamp value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | in[i];
  return value;
}

// Returns why a reply fails the client checks of RFC 4330 section 5, or null
// when it passes them. |sent| is the transmit time of our request.
const char16_t* ReplyFault(const uint8_t* reply, long size, SntpTimestamp sent) {
  if (size < static_cast<long>(kRequestSize)) return u"too short";
  if ((reply[0] & 7) != kServerMode) return u"not a server reply";
  if (reply[0] >> 6 == kLeapAlarm) return u"server not synchronised";
  if (reply[1] < 1 || reply[1] > kHighestStratum) return u"stratum out of range";
  if (ReadBigEndian(reply + 24) != sent) return u"not the answer to our request";
  if (ReadBigEndian(reply + 40) == 0) return u"no transmit time";
  return nullptr;
}

}  // namespace

SntpTimestamp LocalClockAsSntpTimestamp() {
  const platform::WallClock now = platform::CurrentWallClock();
  const auto seconds = static_cast<uint64_t>(now.seconds + kSecondsFrom1900To1970);
  const auto fraction =
      static_cast<uint64_t>(std::llround(now.milliseconds * kFractionScale / 1000.0));
  return (seconds << 32) + fraction;
}

double SntpDifference(SntpTimestamp later, SntpTimestamp earlier) {
  // Modulo 2^32 seconds, so that two times on either side of an era change
  // (2036-02-07) are still seconds apart.
  const double seconds = static_cast<double>(static_cast<int32_t>(
      static_cast<uint32_t>(later >> 32) - static_cast<uint32_t>(earlier >> 32)));
  const double fraction =
      static_cast<double>(later & 0xFFFFFFFF) - static_cast<double>(earlier & 0xFFFFFFFF);
  return seconds + fraction / kFractionScale;
}

bool CSNTPClient::GetServerTime(const KaOSAL::KaString& server, SntpAnswer& answer, uint16_t port) {
  platform::UdpSocket socket;
  if (!socket.Connect(KaOSAL::ToUtf8(server.c_str(), static_cast<size_t>(server.GetLength())),
                      port)) {
    return false;
  }

  uint8_t request[kRequestSize] = {};
  request[0] = kClientRequestByte;
  const SntpTimestamp sent = LocalClockAsSntpTimestamp();
  WriteBigEndian(request + 40, sent);
  if (!socket.Send(request, sizeof(request))) return false;

  platform::SleepMilliseconds(kSettleMs);
  // The reply is awaited in short slices, each after asking the stop check.
  for (uint32_t waited = 0;; waited += kStopPollMs) {
    if (waited >= m_timeoutMs || Stopped()) {
      KaOSAL::SetLastError(KaOSAL::kWsaTimedOut);
      return false;
    }
    if (socket.WaitReadable(std::min(kStopPollMs, m_timeoutMs - waited))) break;
    if (KaOSAL::GetLastError() != KaOSAL::kWsaTimedOut) return false;
  }

  const SntpTimestamp destination = LocalClockAsSntpTimestamp();
  platform::SleepMilliseconds(kSettleMs);
  uint8_t reply[kAnswerBufferSize] = {};
  const long size = socket.Receive(reply, sizeof(reply));
  if (size <= 0) return false;
  if (const char16_t* fault = ReplyFault(reply, size, sent)) {
    LogW(kLogNotable, u"CSNTPClient: reply of %s refused: %s", server.c_str(), fault);
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidData);
    return false;
  }

  answer.leap_indicator = reply[0] >> 6;
  answer.stratum = reply[1];
  answer.originate = ReadBigEndian(reply + 24);
  answer.receive = ReadBigEndian(reply + 32);
  answer.transmit = ReadBigEndian(reply + 40);
  answer.destination = destination;
  answer.round_trip_delay = SntpDifference(destination, answer.originate) -
                            SntpDifference(answer.transmit, answer.receive);
  answer.local_clock_offset = (SntpDifference(answer.receive, answer.originate) +
                               SntpDifference(answer.transmit, destination)) /
                              2;
  return true;
}

}  // namespace wardex
