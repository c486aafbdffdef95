#include "platform/ui.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "osal/last_error.h"
#include "platform/ui_test_window.h"
#include "support/test_env.h"

#if defined(_WIN32)
#include "platform/windows_api.h"
#else
#include <signal.h>
#include <unistd.h>

#include <future>

#include "platform/ui_posix.h"
#endif

namespace wardex::platform {
namespace {

using namespace std::chrono_literals;

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

TEST(MessageLoopTest, SendMessageWaitsForTheResultOrItsTimeOutAndOnTheLoopThreadIsADirectCall) {
  HWND self = nullptr;
  UiThread ui([&](UINT message, WPARAM wparam, LPARAM) -> LRESULT {
    if (message == WM_USER + 4) return SendMessage(self, WM_USER + 2, wparam, 0);
    if (message != WM_USER + 2) return 9;
    std::this_thread::sleep_for(300ms);
    return static_cast<LRESULT>(wparam * 3);
  });
  self = ui.hwnd();
  const auto start = Clock::now();
  EXPECT_EQ(SendMessage(ui.hwnd(), WM_USER + 2, 14, 0), 42);
  EXPECT_GE(Clock::now() - start, 300ms);
  EXPECT_EQ(SendMessage(ui.hwnd(), WM_USER + 4, 5, 0), 15);  // a queued send would deadlock
  auto got = ui.window().Messages(WM_USER + 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].thread, ui.id());
  LRESULT result = -1;
  EXPECT_FALSE(SendMessageTimeout(ui.hwnd(), WM_USER + 2, 1, 0, 50, &result));
  EXPECT_EQ(KaOSAL::GetLastError(), ERROR_TIMEOUT);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(SendMessageTimeout(ui.hwnd(), WM_USER + 7, 0, 0, 5000, &result));
  EXPECT_EQ(result, 9);
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

TEST(MessageLoopTest, RegisterFailsWithoutALoopAndWhenCreateAnswersMinusOne) {
  RecordingWindow window;
  std::thread([&] { EXPECT_EQ(window.Register(), nullptr); }).join();
  MessageLoop loop;
  window.handler = [](UINT message, WPARAM, LPARAM) -> LRESULT {
    return message == WM_CREATE ? -1 : 0;
  };
  EXPECT_EQ(window.Register(), nullptr);
  EXPECT_EQ(window.Messages(WM_DESTROY).size(), 1u);
}

TEST(MessageLoopTest, IdleLoopDoesNotWakeUp) {
  UiThread ui;
  ASSERT_NE(SetTimer(ui.hwnd(), 1, 60000), 0u);
  SendMessage(ui.hwnd(), WM_NULL, 0, 0);  // the loop has taken in the timer
  // Wine sends a new window messages of its own for a while: wait until a
  // fifth of a second passes without one.
  uint64_t before = ui.loop().wakeups();
  for (int settle = 0; settle < 50; ++settle) {
    std::this_thread::sleep_for(200ms);
    const uint64_t now = ui.loop().wakeups();
    if (now == before) break;
    before = now;
  }
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(ui.loop().wakeups(), before);
  PostMessage(ui.hwnd(), WM_NULL, 0, 0);
  std::this_thread::sleep_for(50ms);
  EXPECT_GT(ui.loop().wakeups(), before);  // the counter does count real wake-ups
}

TEST(MessageLoopTest, BroadcastReachesEveryWindow) {
  // On Windows only top-level windows get a broadcast: the tray's window and
  // the frame must be, to hear the shell's "TaskbarCreated".
  UiThread first;
  UiThread second;
  const UINT taskbar_created = RegisterWindowMessage(u"TaskbarCreated");
  EXPECT_GE(taskbar_created, 0xC000u);
  EXPECT_EQ(RegisterWindowMessage(u"TaskbarCreated"), taskbar_created);  // stable per name
  EXPECT_EQ(RegisterWindowMessage(u""), 0u);
  BroadcastMessage(taskbar_created, 0, 0);
  first.Stop();  // its quit message was posted after the broadcast
  second.Stop();
  EXPECT_EQ(first.window().Messages(taskbar_created).size(), 1u);
  EXPECT_EQ(second.window().Messages(taskbar_created).size(), 1u);
}

#if defined(_WIN32)
// Real top-level windows, and the end requests that reach the main window.
::HWND System(HWND hwnd) { return reinterpret_cast<::HWND>(hwnd); }

TEST(MessageLoopWinTest, WindowsAreHiddenTopLevelWindows) {
  MessageLoop loop;
  RecordingWindow window;
  ASSERT_NE(window.Register(), nullptr);
  // That EnumWindows lists them, as other programs that close the agent's
  // windows find them, is seen where the process probe's window is asked to
  // close (ProcessHandleTest, ProcessControlTest).
  EXPECT_FALSE(::IsWindowVisible(System(window.hwnd())));
  EXPECT_NE(::GetWindowLongPtrW(System(window.hwnd()), GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
  // A close request from outside is the window procedure's to handle: the
  // system's default would destroy the window.
  ASSERT_TRUE(::PostMessageW(System(window.hwnd()), WM_CLOSE, 0, 0));
  PostMessage(window.hwnd(), RecordingWindow::kQuit, 0, 0);
  loop.Run();
  EXPECT_EQ(window.Messages(WM_CLOSE).size(), 1u);
  EXPECT_TRUE(IsWindow(window.hwnd()));
  window.Destroy();
}

TEST(MessageLoopWinTest, SessionEndClosesTheMainWindow) {
  MessageLoop loop;
  RecordingWindow frame;
  ASSERT_NE(frame.Register(), nullptr);
  SetMainWindow(frame.hwnd());
  ASSERT_TRUE(RouteTerminationSignals(loop));
  // The system ends the process once WM_ENDSESSION returns: the close runs
  // inside it.
  ::SendMessageW(System(frame.hwnd()), WM_ENDSESSION, 1, 0);
  EXPECT_EQ(frame.Messages(WM_CLOSE).size(), 1u);
  StopTerminationSignals();
  ::SendMessageW(System(frame.hwnd()), WM_ENDSESSION, 1, 0);
  EXPECT_EQ(frame.Messages(WM_CLOSE).size(), 1u);
  frame.Destroy();
  EXPECT_EQ(GetMainWindow(), nullptr);
}
#else
// Termination signals and descriptor watches.
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
  WatchFd(ui.loop(), fds[0], POLLIN, [&](int fd, short events) {
    char byte;
    ASSERT_EQ(read(fd, &byte, 1), 1);
    EXPECT_TRUE(events & POLLIN);
    UnwatchFd(ui.loop(), fd);
    called.set_value(std::this_thread::get_id());
  });
  // That a quiet descriptor does not wake the loop is the desktop shell's
  // idle test, whose session bus is one.
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  auto future = called.get_future();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(future.get(), ui.id());
  ui.Stop();
  close(fds[0]);
  close(fds[1]);
}
#endif

}  // namespace
}  // namespace wardex::platform
