#include "app/system_tray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/ui_test_window.h"
#include "support/test_env.h"
#include "test_shell/test_shell.h"

namespace wardex {
namespace {

using namespace platform;
using namespace std::chrono_literals;

constexpr UINT kCallback = 0x800A;
constexpr UINT kIconId = 130;

class SystemTrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shell_ = std::make_shared<TestShell>(AgentShellHost());
    SetShellBackend(shell_);
    ASSERT_NE(frame_.Register(), nullptr);
  }
  void TearDown() override {
    SetShellBackend(nullptr);
    SetMainWindow(nullptr);
  }
  // Handles everything queued so far.
  void Pump() {
    PostMessage(frame_.hwnd(), RecordingWindow::kQuit, 0, 0);
    loop_.Run();
  }
  bool CreateIcon(CSystemTray& tray, const std::u16string& tip = u"Wardex tip") {
    icon_ = LoadIconImage(IDI_TRAYICON);
    return tray.Create(nullptr, kCallback, tip.c_str(), icon_, kIconId);
  }
  std::vector<TestShell::Call> CallsOf(uint32_t message) {
    std::vector<TestShell::Call> result;
    for (const auto& call : shell_->calls()) {
      if (call.message == message) result.push_back(call);
    }
    return result;
  }

  MessageLoop loop_;
  RecordingWindow frame_;  // the main frame
  std::shared_ptr<TestShell> shell_;
  HICON icon_ = nullptr;

  ~SystemTrayTest() override { DestroyIcon(icon_); }
};

// A balloon's time and icon on the desktop are the agent desktop test's.
TEST_F(SystemTrayTest, CreateAddsTheIconWithItsTextsCutToTheShellsLengths) {
  CSystemTray tray;
  ASSERT_TRUE(CreateIcon(tray, std::u16string(200, u't')));
  const NOTIFYICONDATAW add = CallsOf(NIM_ADD).at(0).data;
  EXPECT_EQ(std::tie(add.hWnd, add.uID, add.uCallbackMessage, add.hIcon, add.uFlags),
            std::make_tuple(tray.hwnd(), kIconId, kCallback, icon_,
                            UINT{NIF_MESSAGE | NIF_ICON | NIF_TIP}));
  EXPECT_EQ(std::u16string(add.szTip), std::u16string(127, u't'));

  for (const auto& [text_length, title_length] :
       {std::pair{0, 0}, {255, 63}, {256, 64}, {300, 100}}) {
    SCOPED_TRACE(text_length);
    ASSERT_TRUE(tray.ShowBalloon(std::u16string(text_length, u'x').c_str(),
                                 std::u16string(title_length, u'y').c_str()));
    const NOTIFYICONDATAW shown = CallsOf(NIM_MODIFY).back().data;
    EXPECT_EQ(shown.uFlags, NIF_INFO);
    EXPECT_EQ(std::u16string(shown.szInfo).size(), std::min<size_t>(text_length, 255));
    EXPECT_EQ(std::u16string(shown.szInfoTitle).size(), std::min<size_t>(title_length, 63));
  }
  ASSERT_TRUE(tray.ShowBalloon(u"no title"));
  EXPECT_EQ(CallsOf(NIM_MODIFY).back().data.szInfoTitle[0], 0);
  // The flags come back after a balloon: a re-add carries the icon's flags.
  ASSERT_TRUE(tray.AddIcon());
  EXPECT_EQ(CallsOf(NIM_ADD).back().data.uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
  EXPECT_EQ(CallsOf(NIM_ADD).back().data.szInfo[0], 0);
}

// A new taskbar brings back a visible icon (the agent's and the Windows tray
// test's case) and a hidden one once shown (the desktop shell test's), but
// never one removed as the agent closes.
TEST_F(SystemTrayTest, ANewTaskbarBringsBackNoRemovedIcon) {
  CSystemTray tray;
  ASSERT_TRUE(CreateIcon(tray));
  ASSERT_TRUE(tray.RemoveIcon());
  shell_->AnnounceTaskbar();
  Pump();
  EXPECT_EQ(CallsOf(NIM_ADD).size(), 1u);
}

TEST_F(SystemTrayTest, WorkAreaChangeAddsTheIconAgain) {
  CSystemTray tray;
  shell_->RefuseAdds(1);
  EXPECT_FALSE(CreateIcon(tray));
  // The system sends the change; it cannot be posted.
  SendMessage(tray.hwnd(), WM_SETTINGCHANGE, 0x0001, 0);  // another setting
  EXPECT_EQ(CallsOf(NIM_ADD).size(), 1u);
  SendMessage(tray.hwnd(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
  EXPECT_EQ(CallsOf(NIM_ADD).size(), 2u);
  EXPECT_FALSE(tray.IsShowPending());
}

TEST_F(SystemTrayTest, AHiddenIconOnlyRemembersANewImage) {
  CSystemTray tray;
  ASSERT_TRUE(CreateIcon(tray));
  ASSERT_TRUE(tray.HideIcon());
  EXPECT_TRUE(tray.IsHidden());
  const size_t modifies = CallsOf(NIM_MODIFY).size();
  ASSERT_TRUE(tray.SetIcon(IDR_MAINFRAME));
  ASSERT_TRUE(tray.HideIcon());  // already hidden: nothing to do
  EXPECT_EQ(CallsOf(NIM_MODIFY).size(), modifies);
  ASSERT_TRUE(tray.ShowIcon());
  EXPECT_EQ(CallsOf(NIM_MODIFY).size(), modifies + 1);
  EXPECT_EQ(CallsOf(NIM_MODIFY).back().data.uFlags, NIF_STATE);  // showing changes only the state
  EXPECT_FALSE(tray.IsHidden());
}

TEST_F(SystemTrayTest, IconsByResourceAreLoadedOnce) {
  CSystemTray tray;
  ASSERT_TRUE(CreateIcon(tray));
  EXPECT_FALSE(tray.SetIcon(UINT{999}));  // no such resource: the icon stays
  EXPECT_FALSE(tray.SetIcon(HICON{nullptr}));
  EXPECT_TRUE(CallsOf(NIM_MODIFY).empty());
  for (UINT id : {IDR_MAINFRAME, IDI_TRAYICON, IDR_MAINFRAME, IDI_TRAYICON})
    ASSERT_TRUE(tray.SetIcon(id));
  auto modifies = CallsOf(NIM_MODIFY);
  ASSERT_EQ(modifies.size(), 4u);
  for (const auto& call : modifies) EXPECT_EQ(call.data.uFlags, NIF_ICON);
  EXPECT_EQ(modifies[0].data.hIcon->resource->id, IDR_MAINFRAME);
  EXPECT_EQ(modifies[1].data.hIcon->resource->id, IDI_TRAYICON);
  EXPECT_EQ(modifies[0].data.hIcon, modifies[2].data.hIcon);  // the same loaded handle
  EXPECT_EQ(modifies[1].data.hIcon, modifies[3].data.hIcon);
  EXPECT_NE(modifies[1].data.hIcon, icon_);  // the creator's handle is not the cache's
}

// Which of the icon's events open the menu; that the menu shows what the
// refresh before it set is the agent's menu tests'.
TEST_F(SystemTrayTest, ClicksOnTheIconOpenTheMenuAndNothingElseDoes) {
  CSystemTray tray;
  ASSERT_TRUE(CreateIcon(tray));
  EXPECT_EQ(tray.OnTrayNotification(kIconId, WM_LBUTTONUP), 0);  // no main window yet
  SetMainWindow(frame_.hwnd());
  EXPECT_EQ(tray.OnTrayNotification(kIconId + 1, WM_LBUTTONUP), 0);  // another icon's
  EXPECT_TRUE(shell_->menus().empty());
  tray.SetMenuOpeningWindow(frame_.hwnd());
  const std::pair<UINT, bool> kEvents[] = {{WM_LBUTTONUP, true},   {WM_LBUTTONDBLCLK, true},
                                           {WM_RBUTTONUP, true},   {NIN_BALLOONUSERCLICK, true},
                                           {WM_MOUSEMOVE, false},  {WM_LBUTTONDOWN, false},
                                           {WM_RBUTTONDOWN, false}};
  for (const auto& [event, opens] : kEvents) {
    SCOPED_TRACE(event);
    const size_t menus_before = shell_->menus().size();
    ASSERT_TRUE(shell_->Click(event));
    Pump();
    Pump();  // what the menu posted
    EXPECT_EQ(shell_->menus().size(), menus_before + (opens ? 1 : 0));
  }
  // Every menu is followed by an empty message to the target.
  EXPECT_EQ(frame_.Messages(WM_NULL).size(), shell_->menus().size());
}

TEST_F(SystemTrayTest, RefreshOnAnotherThreadIsWaitedFor) {
  CSystemTray tray;
  ASSERT_TRUE(CreateIcon(tray));
  SetMainWindow(frame_.hwnd());
  std::promise<HWND> opener_ready;
  std::thread ui([&] {
    MessageLoop loop;
    RecordingWindow opener;
    opener.handler = [&](UINT message, WPARAM, LPARAM) -> LRESULT {
      if (message != CSystemTray::kMenuAboutToOpen) return 0;
      std::this_thread::sleep_for(100ms);
      tray.SetMenuText(0, u"Refreshed");
      return 0;
    };
    opener_ready.set_value(opener.Register());
    loop.Run();
  });
  HWND opener = opener_ready.get_future().get();
  tray.SetMenuOpeningWindow(opener);
  EXPECT_EQ(tray.OnTrayNotification(kIconId, WM_LBUTTONDBLCLK), 1);
  PostMessage(opener, RecordingWindow::kQuit, 0, 0);
  ui.join();
  ASSERT_EQ(shell_->menus().size(), 1u);
  EXPECT_NE(shell_->menus()[0].find("0x8010\"Refreshed\""), std::string::npos)
      << shell_->menus()[0];
}

// The menu's own operations are the menu tests'; removing the icon with the
// window, the agent's creation retries'.
TEST_F(SystemTrayTest, MenuOperationsBeforeCreateFail) {
  CSystemTray tray;
  EXPECT_FALSE(tray.SetMenuText(0, u"x"));
  EXPECT_FALSE(tray.EnableMenuItem(0x8019, false));
  Menu menu;
  EXPECT_FALSE(tray.GetTrayMenu(&menu));
}

TEST_F(SystemTrayTest, PipeThreadCallsAreSerialisedWithTheUiThread) {
  CSystemTray tray;
  ASSERT_TRUE(CreateIcon(tray));
  const int kEach = test::Scaled(300, 60);
  std::atomic<bool> go{false};
  std::vector<std::thread> pipe_threads;
  for (int t = 0; t < 3; ++t) {
    pipe_threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kEach; ++i) {
        if (t == 0) tray.ShowBalloon(u"balloon", u"title", NIIF_INFO, 3);
        if (t == 1) tray.SetIcon(i % 2 == 0 ? IDR_MAINFRAME : IDI_TRAYICON);
        if (t == 2) tray.SetMenuText(3, i % 2 == 0 ? u"Turbo an" : u"Turbo aus");
      }
    });
  }
  go = true;
  for (int i = 0; i < kEach; ++i) tray.EnableMenuItem(0x8019, i % 2 == 0);
  for (auto& thread : pipe_threads) thread.join();
  int balloons = 0;
  int icons = 0;
  for (const auto& call : CallsOf(NIM_MODIFY)) {
    // Each change carries only its own flag: no call saw another's flags.
    if (call.data.uFlags == NIF_INFO && std::u16string(call.data.szInfo) == u"balloon") ++balloons;
    if (call.data.uFlags == NIF_ICON && call.data.szInfo[0] == 0) ++icons;
  }
  EXPECT_EQ(std::pair(balloons, icons), std::pair(kEach, kEach));
  ASSERT_TRUE(tray.AddIcon());
  EXPECT_EQ(CallsOf(NIM_ADD).back().data.uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
}

}  // namespace
}  // namespace wardex
