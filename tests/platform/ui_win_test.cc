// The message loop's Windows parts: real top-level windows, and the end
// requests that reach the main window.
#include <gtest/gtest.h>

#include "platform/ui.h"
#include "platform/ui_test_window.h"
#include "platform/windows_api.h"

namespace wardex::platform {
namespace {

::HWND System(HWND hwnd) { return reinterpret_cast<::HWND>(hwnd); }

// True when EnumWindows, which other programs use to close the agent's
// windows, lists |hwnd| among this process's top-level windows.
bool ListedAsTopLevel(HWND hwnd) {
  struct Search {
    ::HWND wanted;
    bool found;
  } search{System(hwnd), false};
  ::EnumWindows(
      [](::HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (window == s->wanted && process == ::GetCurrentProcessId()) s->found = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TEST(MessageLoopWinTest, WindowsAreHiddenTopLevelWindows) {
  MessageLoop loop;
  RecordingWindow window;
  ASSERT_NE(window.Register(), nullptr);
  EXPECT_TRUE(ListedAsTopLevel(window.hwnd()));
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

}  // namespace
}  // namespace wardex::platform
