// The Windows desktop backend against Wine's system tray on an X display:
// what the user sees (the icon's pixels, the balloon, the menu, the message
// box) and what the user's keys give back; a click on the icon reaching the
// tray as its callback is the Windows agent test's, whose menu opens only so.
// The stage runs these under Xvfb; Wine draws its tray as a window of its own
// there.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/desktop_shell.h"
#include "platform/ui_test_window.h"
#include "platform/windows_api.h"
#include "support/wine_desktop_win.h"

namespace wardex::platform {
namespace {

using namespace std::chrono_literals;

class NotifyAreaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shell_ = CreateDesktopShell(loop_);
    // Each timer ends one turn of PumpUntil.
    owner_.handler = [](UINT message, WPARAM, LPARAM) -> LRESULT {
      if (message == WM_TIMER) PostQuitMessage(0);
      return 0;
    };
    ASSERT_NE(owner_.Register(), nullptr);
    ASSERT_TRUE(shell_->HasTrayHost());
    ASSERT_GT(::GetSystemMetrics(SM_CXSCREEN), 1)
        << "no screen: these tests need an X display (the stage runs them under xvfb-run)";
    data_.cbSize = kNotifyIconDataSize;
    data_.hWnd = owner_.hwnd();
    data_.uID = 130;  // the frame's icon
    data_.uCallbackMessage = 0x800A;
    data_.hIcon = icon_;
    CopyToField(data_.szTip, kTipLength, u"Wardex");
  }
  void TearDown() override {
    if (icon_window_ != nullptr) Notify(NIM_DELETE, 0);
    DestroyIcon(icon_);
    DestroyIcon(busy_icon_);
    owner_.Destroy();
  }

  bool Notify(uint32_t message, UINT flags) {
    data_.uFlags = flags;
    return shell_->NotifyIcon(message, data_);
  }

  // Adds the icon and finds the window Wine draws it in (an earlier test's
  // icon may still be going).
  void AddIcon() {
    const std::vector<::HWND> before = test::TrayIconWindows();
    ASSERT_TRUE(Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP));
    ASSERT_TRUE(PumpUntil([&] {
      for (::HWND icon : test::TrayIconWindows()) {
        if (std::find(before.begin(), before.end(), icon) == before.end()) icon_window_ = icon;
      }
      return icon_window_ != nullptr;
    }));
  }

  // Runs the loop until |done| answers true, for at most 10 s.
  bool PumpUntil(const std::function<bool()>& done) {
    for (auto deadline = Clock::now() + 10s; Clock::now() < deadline;) {
      if (done()) return true;
      SetTimer(owner_.hwnd(), 1, 20);
      loop_.Run();
    }
    return done();
  }

  MessageLoop loop_;
  RecordingWindow owner_;
  std::shared_ptr<ShellBackend> shell_;
  HICON icon_ = LoadIconImage(IDI_TRAYICON);
  HICON busy_icon_ = LoadIconImage(IDR_MAINFRAME);
  NOTIFYICONDATAW data_ = {};
  ::HWND icon_window_ = nullptr;
};

TEST_F(NotifyAreaTest, TheIconShowsItsBalloonChangesAndGoes) {
  ASSERT_NO_FATAL_FAILURE(AddIcon());
  EXPECT_TRUE(PumpUntil([&] { return test::PixelsOfColour(icon_window_, test::kTrayBlue) > 20; }));

  CopyToField(data_.szInfo, kInfoLength, u"Scan finished");
  CopyToField(data_.szInfoTitle, kInfoTitleLength, u"Wardex");
  data_.uTimeout = 10000;
  data_.dwInfoFlags = NIIF_INFO;
  ASSERT_TRUE(Notify(NIM_MODIFY, NIF_INFO));
  // Wine shows a balloon as a tooltip of its tray, after a short delay. It
  // announces no click on it (Windows sends NIN_BALLOONUSERCLICK): the tray
  // object's handling of that is tested with the Linux backends.
  EXPECT_NE(test::WaitForWindow(L"tooltips_class32"), nullptr);

  data_.hIcon = busy_icon_;
  ASSERT_TRUE(Notify(NIM_MODIFY, NIF_ICON));
  EXPECT_TRUE(PumpUntil([&] {
    return test::PixelsOfColour(icon_window_, test::kBusyAmber) > 20 &&
           test::PixelsOfColour(icon_window_, test::kTrayBlue) == 0;
  }));

  ASSERT_TRUE(Notify(NIM_DELETE, 0));
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(icon_window_); }));
  icon_window_ = nullptr;
  EXPECT_FALSE(Notify(NIM_MODIFY, NIF_ICON));  // the shell knows it no more
}

TEST_F(NotifyAreaTest, MenuShowsTheModelAndAnswersTheChosenCommand) {
  Menu menu;
  menu.AppendItem(MF_STRING, 0x8010, u"Start Corvane && Brisko");
  menu.AppendItem(MF_STRING | MF_GRAYED, 0x8019, u"Letzte Nachricht anzeigen");
  menu.AppendItem(MF_SEPARATOR, 0, u"");
  menu.AppendItem(MF_STRING, 0x8012, u"Close Corvane Tray");
  menu.SetDefaultItem(0, true);
  struct Case {
    const char* name;
    std::initializer_list<WORD> keys;
    uint32_t command;
  };
  const Case cases[] = {
      {"the last item", {VK_UP, VK_RETURN}, 0x8012},
      {"the greyed item chooses nothing", {VK_DOWN, VK_DOWN, VK_RETURN}, 0},
      {"dismissed", {VK_ESCAPE}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::thread user([&] {
      ::HWND shown = test::WaitForWindow(L"#32768");
      if (shown == nullptr) {
        ADD_FAILURE() << "no menu window";
        ::PostMessageW(reinterpret_cast<::HWND>(owner_.hwnd()), WM_CANCELMODE, 0, 0);
        return;
      }
      HMENU system = reinterpret_cast<HMENU>(::SendMessageW(shown, MN_GETHMENU, 0, 0));
      wchar_t text[64] = {};
      EXPECT_EQ(::GetMenuItemCount(system), 4);
      ::GetMenuStringW(system, 0, text, 64, MF_BYPOSITION);
      EXPECT_STREQ(text, L"Start Corvane && Brisko");  // shown with one ampersand
      EXPECT_EQ(::GetMenuDefaultItem(system, TRUE, 0), 0u);
      EXPECT_NE(::GetMenuState(system, 1, MF_BYPOSITION) & MF_GRAYED, 0u);
      EXPECT_NE(::GetMenuState(system, 2, MF_BYPOSITION) & MF_SEPARATOR, 0u);
      test::PostKeys(shown, c.keys);
    });
    EXPECT_EQ(shell_->TrackPopupMenu(menu, owner_.hwnd()), c.command);
    user.join();
  }
}

TEST_F(NotifyAreaTest, MessageBoxAnswersWhatTheUserPressed) {
  // Enter takes the default button, the second.
  std::thread user([&] {
    ::HWND box = test::WaitForWindow(L"#32770", L"Question");
    ASSERT_NE(box, nullptr);
    test::PostKeys(box, {VK_RETURN});
  });
  EXPECT_EQ(shell_->MessageBox(owner_.hwnd(), u"Enter Exception?", u"Question",
                               MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2),
            IDCANCEL);
  user.join();
}

}  // namespace
}  // namespace wardex::platform
