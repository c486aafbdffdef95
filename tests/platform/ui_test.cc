#include "platform/ui.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "osal/last_error.h"
#include "support/test_env.h"

namespace wardex::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Received {
  UINT message;
  WPARAM wparam;
  std::thread::id thread;
  Clock::time_point when;
};

// A window that records every message after WM_CREATE and answers through
// an optional handler; WM_USER + 99 ends its loop.
class RecordingWindow : public Window {
 public:
  static constexpr UINT kQuit = WM_USER + 99;
  std::function<LRESULT(UINT, WPARAM, LPARAM)> handler;

  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override {
    {
      std::lock_guard lock(mutex_);
      received_.push_back({message, wparam, std::this_thread::get_id(), Clock::now()});
    }
    if (message == kQuit) PostQuitMessage(static_cast<int>(wparam));
    return handler ? handler(message, wparam, lparam) : 0;
  }
  std::vector<Received> Messages(UINT message) {
    std::lock_guard lock(mutex_);
    std::vector<Received> result;
    for (const auto& r : received_) {
      if (r.message == message) result.push_back(r);
    }
    return result;
  }

 private:
  std::mutex mutex_;
  std::vector<Received> received_;
};

// Runs a loop with one RecordingWindow on its own thread.
class UiThread {
 public:
  explicit UiThread(std::function<LRESULT(UINT, WPARAM, LPARAM)> handler = nullptr) {
    window_.handler = std::move(handler);
    std::promise<void> ready;
    thread_ = std::thread([this, &ready] {
      MessageLoop loop;
      loop_ = &loop;
      hwnd_ = window_.Register();
      ready.set_value();
      exit_code_ = loop.Run();
      window_.Destroy();
      loop_ = nullptr;
    });
    ready.get_future().wait();
    id_ = thread_.get_id();
  }
  ~UiThread() { Stop(); }
  int Stop() {
    if (thread_.joinable()) {
      PostMessage(hwnd_, RecordingWindow::kQuit, 0, 0);
      thread_.join();
    }
    return exit_code_;
  }
  HWND hwnd() const { return hwnd_; }
  MessageLoop& loop() { return *loop_; }
  RecordingWindow& window() { return window_; }
  std::thread::id id() const { return id_; }

 private:
  RecordingWindow window_;
  std::atomic<MessageLoop*> loop_{nullptr};
  HWND hwnd_ = nullptr;
  int exit_code_ = -1;
  std::thread thread_;
  std::thread::id id_;
};

TEST(MessageLoopTest, PostedMessagesArriveInOrderOnTheLoopThread) {
  UiThread ui;
  const int kCount = 500;
  for (int i = 0; i < kCount; ++i) ASSERT_TRUE(PostMessage(ui.hwnd(), WM_USER + 1, i, 0));
  PostMessage(ui.hwnd(), RecordingWindow::kQuit, 7, 0);
  EXPECT_EQ(ui.Stop(), 7);  // the quit code is what Run returns
  auto got = ui.window().Messages(WM_USER + 1);
  ASSERT_EQ(got.size(), static_cast<size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(got[i].wparam, static_cast<WPARAM>(i));
    EXPECT_EQ(got[i].thread, ui.id());
  }
  EXPECT_EQ(ui.window().Messages(WM_CREATE).size(), 1u);
  EXPECT_EQ(ui.window().Messages(WM_DESTROY).size(), 1u);
}

TEST(MessageLoopTest, SendMessageFromAnotherThreadWaitsForTheResult) {
  UiThread ui([](UINT message, WPARAM wparam, LPARAM) -> LRESULT {
    if (message != WM_USER + 2) return 0;
    std::this_thread::sleep_for(100ms);
    return static_cast<LRESULT>(wparam * 3);
  });
  const auto start = Clock::now();
  EXPECT_EQ(SendMessage(ui.hwnd(), WM_USER + 2, 14, 0), 42);
  EXPECT_GE(Clock::now() - start, 100ms);
  auto got = ui.window().Messages(WM_USER + 2);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].thread, ui.id());
}

TEST(MessageLoopTest, ManyThreadsSendAtOnce) {
  UiThread ui([](UINT message, WPARAM wparam, LPARAM) -> LRESULT {
    return message == WM_USER + 3 ? static_cast<LRESULT>(wparam + 1) : 0;
  });
  const int kThreads = 4;
  const int kEach = test::Scaled(2000, 200);
  std::atomic<int> wrong{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const WPARAM value = t * 100000 + i;
        if (SendMessage(ui.hwnd(), WM_USER + 3, value, 0) != static_cast<LRESULT>(value + 1))
          ++wrong;
      }
    });
  }
  for (auto& s : senders) s.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(ui.window().Messages(WM_USER + 3).size(), static_cast<size_t>(kThreads * kEach));
}

TEST(MessageLoopTest, SendMessageOnTheLoopThreadIsADirectCall) {
  std::atomic<LRESULT> inner{0};
  HWND self = nullptr;
  UiThread ui([&](UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_USER + 4) inner = SendMessage(self, WM_USER + 5, 0, 0);
    return message == WM_USER + 5 ? 55 : 0;
  });
  self = ui.hwnd();
  SendMessage(ui.hwnd(), WM_USER + 4, 0, 0);
  EXPECT_EQ(inner.load(), 55);
}

TEST(MessageLoopTest, SendMessageTimeoutGivesUp) {
  UiThread ui([](UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_USER + 6) std::this_thread::sleep_for(300ms);
    return 9;
  });
  LRESULT result = -1;
  EXPECT_FALSE(SendMessageTimeout(ui.hwnd(), WM_USER + 6, 0, 0, 50, &result));
  EXPECT_EQ(KaOSAL::GetLastError(), ERROR_TIMEOUT);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(SendMessageTimeout(ui.hwnd(), WM_USER + 7, 0, 0, 5000, &result));
  EXPECT_EQ(result, 9);
}

TEST(MessageLoopTest, TimerFiresOnceRearmingRestartsItAndAnyThreadKillsIt) {
  UiThread ui;
  const auto start = Clock::now();
  ASSERT_EQ(SetTimer(ui.hwnd(), 0x800B, 200), 0x800Bu);
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(SetTimer(ui.hwnd(), 0x800B, 200), 0x800Bu);  // restarts: due at ~300 ms
  ASSERT_EQ(SetTimer(ui.hwnd(), 1, 30), 1u);
  ASSERT_EQ(SetTimer(ui.hwnd(), 5, 150), 5u);
  std::thread([&] { EXPECT_TRUE(KillTimer(ui.hwnd(), 5)); }).join();  // killed from elsewhere
  std::this_thread::sleep_for(600ms);
  auto timers = ui.window().Messages(WM_TIMER);
  ASSERT_EQ(timers.size(), 2u);
  EXPECT_EQ(timers[0].wparam, 1u);
  EXPECT_EQ(timers[1].wparam, 0x800Bu);
  EXPECT_GE(timers[1].when - start, 300ms);
  EXPECT_EQ(timers[1].thread, ui.id());
  EXPECT_FALSE(KillTimer(ui.hwnd(), 0x800B));  // a one-shot timer is gone once it fired
  EXPECT_FALSE(KillTimer(ui.hwnd(), 5));
}

TEST(MessageLoopTest, MessagesToADestroyedWindowAreDropped) {
  MessageLoop loop;
  RecordingWindow doomed;
  RecordingWindow other;
  HWND doomed_hwnd = doomed.Register();
  ASSERT_NE(doomed_hwnd, nullptr);
  ASSERT_NE(other.Register(), nullptr);
  ASSERT_TRUE(PostMessage(doomed_hwnd, WM_USER + 8, 0, 0));
  ASSERT_NE(SetTimer(doomed_hwnd, 3, 0), 0u);
  ASSERT_TRUE(doomed.Destroy());
  EXPECT_FALSE(IsWindow(doomed_hwnd));
  EXPECT_FALSE(PostMessage(doomed_hwnd, WM_USER + 8, 0, 0));
  EXPECT_EQ(KaOSAL::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(SendMessage(doomed_hwnd, WM_USER + 8, 0, 0), 0);
  KaOSAL::SetLastError(0);
  EXPECT_EQ(SetTimer(doomed_hwnd, 4, 0), 0u);
  EXPECT_EQ(KaOSAL::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  KaOSAL::SetLastError(0);
  EXPECT_FALSE(KillTimer(doomed_hwnd, 3));
  EXPECT_EQ(KaOSAL::GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  PostMessage(other.hwnd(), RecordingWindow::kQuit, 0, 0);
  loop.Run();
  EXPECT_TRUE(doomed.Messages(WM_USER + 8).empty());
  EXPECT_TRUE(doomed.Messages(WM_TIMER).empty());
  EXPECT_EQ(other.Messages(RecordingWindow::kQuit).size(), 1u);
  other.Destroy();
}

TEST(MessageLoopTest, CreateAnsweringMinusOneFailsTheWindow) {
  MessageLoop loop;
  RecordingWindow window;
  window.handler = [](UINT message, WPARAM, LPARAM) -> LRESULT {
    return message == WM_CREATE ? -1 : 0;
  };
  EXPECT_EQ(window.Register(), nullptr);
  EXPECT_EQ(window.Messages(WM_DESTROY).size(), 1u);
}

TEST(MessageLoopTest, RegisterWithoutALoopFails) {
  RecordingWindow window;
  std::thread([&] { EXPECT_EQ(window.Register(), nullptr); }).join();
}

TEST(MessageLoopTest, TerminationSignalsBecomeCloseOnTheMainWindow) {
  for (int signal_number : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal_number);
    MessageLoop loop;
    RecordingWindow frame;
    frame.handler = [](UINT message, WPARAM, LPARAM) -> LRESULT {
      if (message == WM_CLOSE) PostQuitMessage(3);
      return 0;
    };
    ASSERT_NE(frame.Register(), nullptr);
    SetMainWindow(frame.hwnd());
    ASSERT_TRUE(RouteTerminationSignals(loop));
    ASSERT_EQ(raise(signal_number), 0);
    EXPECT_EQ(loop.Run(), 3);
    EXPECT_EQ(frame.Messages(WM_CLOSE).size(), 1u);
    StopTerminationSignals();
    struct sigaction now = {};
    sigaction(signal_number, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    frame.Destroy();
    EXPECT_EQ(GetMainWindow(), nullptr);
  }
}

TEST(MessageLoopTest, WatchedDescriptorCallsBackOnTheLoopThread) {
  UiThread ui;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::promise<std::thread::id> called;
  ui.loop().WatchFd(fds[0], MessageLoop::kReadable, [&](int fd, short events) {
    char byte;
    ASSERT_EQ(read(fd, &byte, 1), 1);
    EXPECT_TRUE(events & MessageLoop::kReadable);
    ui.loop().UnwatchFd(fd);
    called.set_value(std::this_thread::get_id());
  });
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  auto future = called.get_future();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(future.get(), ui.id());
  ui.Stop();
  close(fds[0]);
  close(fds[1]);
}

TEST(MessageLoopTest, IdleLoopDoesNotWakeUp) {
  UiThread ui;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ui.loop().WatchFd(fds[0], MessageLoop::kReadable, [](int, short) {});
  ASSERT_NE(SetTimer(ui.hwnd(), 1, 60000), 0u);
  SendMessage(ui.hwnd(), WM_NULL, 0, 0);  // the loop has taken in the watch and the timer
  std::this_thread::sleep_for(50ms);
  const uint64_t before = ui.loop().wakeups();
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(ui.loop().wakeups(), before);
  PostMessage(ui.hwnd(), WM_NULL, 0, 0);
  std::this_thread::sleep_for(50ms);
  EXPECT_GT(ui.loop().wakeups(), before);  // the counter does count real wake-ups
  ui.loop().UnwatchFd(fds[0]);
  ui.Stop();
  close(fds[0]);
  close(fds[1]);
}

TEST(MessageLoopTest, RegisteredMessagesAreStablePerName) {
  const UINT taskbar = RegisterWindowMessage(u"TaskbarCreated");
  EXPECT_GE(taskbar, 0xC000u);
  EXPECT_EQ(RegisterWindowMessage(u"TaskbarCreated"), taskbar);
  EXPECT_NE(RegisterWindowMessage(u"CSystemTray::TrayNotify"), taskbar);
  EXPECT_EQ(RegisterWindowMessage(u""), 0u);
}

}  // namespace
}  // namespace wardex::platform
