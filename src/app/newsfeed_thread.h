// The news-feed thread: the daily news check of one start, on a
// crash-protected worker thread. It reaches the agent only through its sink.
#pragma once

#include <cstdint>
#include <stop_token>

#include "online/worker_thread.h"
#include "wardex/news_item.h"

namespace wardex {

inline constexpr char kNewsfeedThreadName[] = "CMainFrame::LoadNewsfeedThreadProc";

// What the check may ask of the agent. Both are called on the news-feed
// thread; the sink outlives it.
class INewsfeedSink {
 public:
  // Waits until the frame's creation sequence has finished, |stop| is
  // requested, or the frame's bound has passed; true when it finished.
  virtual bool WaitForCreation(std::stop_token stop) = 0;
  // Hands |item| to the Console; true when it was shown (false without one).
  virtual bool ShowNewsItem(const NewsItem& item) = 0;

 protected:
  ~INewsfeedSink() = default;
};

// The check of one start: its thread below normal priority, asked to stop
// and waited for when the owner goes.
class NewsfeedThread {
 public:
  explicit NewsfeedThread(INewsfeedSink& sink);
  // Stop(1, infinite): the request and the wait.
  ~NewsfeedThread() = default;
  NewsfeedThread(const NewsfeedThread&) = delete;
  NewsfeedThread& operator=(const NewsfeedThread&) = delete;

  // Starts the check; once per start of the agent.
  void Start();
  // Asks the check to end; it ends its network waits within about a second.
  void RequestStop() { worker_.RequestStop(); }

 private:
  static uint32_t Run(void* self);

  INewsfeedSink& sink_;
  CWorkerThread worker_;
};

// The check itself; returns 0.
uint32_t LoadNewsfeedThreadProc(INewsfeedSink& sink, std::stop_token stop);

}  // namespace wardex
