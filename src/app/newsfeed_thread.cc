#include "app/newsfeed_thread.h"

#include <functional>

#include "online/newsfeed.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "time/time_server_time.h"
#include "wardex/crashlog.h"

namespace wardex {

NewsfeedThread::NewsfeedThread(INewsfeedSink& sink)
    : sink_(sink),
      worker_(&NewsfeedThread::Run, this, &WorkerExceptionFilter, kNewsfeedThreadName) {}

void NewsfeedThread::Start() {
  // A worker that does not run ignores its priority, so it comes after the start.
  if (worker_.Start()) {
    static_cast<void>(worker_.SetPriority(platform::kThreadPriorityBelowNormal));
  }
}

uint32_t NewsfeedThread::Run(void* self) {
  auto* thread = static_cast<NewsfeedThread*>(self);
  return LoadNewsfeedThreadProc(thread->sink_, thread->worker_.stop_token());
}

uint32_t LoadNewsfeedThreadProc(INewsfeedSink& sink, std::stop_token stop) {
  const std::function<bool()> stopping = [stop] { return stop.stop_requested(); };
  // Not during the first day after the installation, unless the computer was
  // restarted since; the time comes from the time servers, so that a local
  // clock set forward does not pass.
  CTimeServerTime server_time;
  server_time.SetStopCheck(stopping);
  const int64_t since_install = server_time.GetTime(nullptr) - ReadInstallTimestamp();
  if (stopping()) return 0;
  const auto uptime_seconds = static_cast<int64_t>(platform::UptimeMilliseconds() / 1000);
  if (!PassesInstallationGate(since_install, uptime_seconds)) {
    LogW(kLogInfo, u"NEWSFEED: No check because of installdate");
    return 0;
  }
  // The frame's creation sequence has finished (or its bound has passed).
  static_cast<void>(sink.WaitForCreation(stop));
  if (stopping()) return 0;
  // An item is remembered only once the Console showed it; the check's end
  // writes data.xml.
  CNewsfeed newsfeed;
  newsfeed.SetStopCheck(stopping);
  NewsItem item;
  if (newsfeed.Check(item) && !stopping() && sink.ShowNewsItem(item)) newsfeed.MarkShown(item);
  return 0;
}

}  // namespace wardex
