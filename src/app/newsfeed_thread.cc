#include "app/newsfeed_thread.h"

#include <functional>

#include "app/main_frame.h"
#include "online/newsfeed.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "time/time_server_time.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

constexpr int kCreationPolls = 51;
constexpr uint32_t kCreationPollMs = 100;

}  // namespace

uint32_t LoadNewsfeedThreadProc(void* parameter) {
  // 1. The frame.
  auto* frame = dynamic_cast<CMainFrame*>(static_cast<ThreadParam*>(parameter));
  if (frame == nullptr) return 0;
  const std::function<bool()> stopping = [frame] { return frame->newsfeed_stop_requested(); };
  // 2-3. Not during the first day after the installation, unless the
  // computer was restarted since; the time comes from the time servers, so
  // that a local clock set forward does not pass.
  CTimeServerTime server_time;
  server_time.SetStopCheck(stopping);
  const int64_t since_install = server_time.GetTime(nullptr) - ReadInstallTimestamp();
  if (stopping()) return 0;
  const auto uptime_seconds = static_cast<int64_t>(platform::UptimeMilliseconds() / 1000);
  if (!PassesInstallationGate(since_install, uptime_seconds)) {
    LogW(kLogInfo, u"NEWSFEED: No check because of installdate");
    return 0;
  }
  // 4. The frame's creation sequence has finished (or 5 s have passed).
  for (int poll = 0; poll < kCreationPolls && !frame->creation_finished(); ++poll) {
    if (stopping()) return 0;
    platform::SleepMilliseconds(kCreationPollMs);
  }
  if (stopping()) return 0;
  // 5. The check; an item is remembered only once the Console showed it.
  CNewsfeed newsfeed;
  newsfeed.SetStopCheck(stopping);
  NewsItem item;
  if (newsfeed.Check(item) && !stopping() && frame->ShowNewsfeed(item)) newsfeed.MarkShown(item);
  // 6. The check's end writes data.xml.
  return 0;
}

}  // namespace wardex
