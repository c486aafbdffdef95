// The message loop's Linux parts: termination signals and descriptor watches.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/ui_posix.h"
#include "platform/ui_test_window.h"

namespace wardex::platform {
namespace {

using namespace std::chrono_literals;

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
  SendMessage(ui.hwnd(), WM_NULL, 0, 0);  // the loop has taken in the watch
  std::this_thread::sleep_for(50ms);
  const uint64_t before = ui.loop().wakeups();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(ui.loop().wakeups(), before);  // a quiet descriptor does not wake the loop
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  auto future = called.get_future();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(future.get(), ui.id());
  ui.Stop();
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace wardex::platform
