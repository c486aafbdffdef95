// The desktop backend in this process, under the real tray icon object, on a
// private session bus: its menu model, its icons, a hidden icon, the idle
// loop and the agent's own message box.
#include "platform/desktop_shell.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <future>
#include <thread>
#include <tuple>

#include "app/system_tray.h"
#include "desktop/desktop_peers.h"
#include "osal/wide_format.h"
#include "platform/dbus_menu_layout.h"
#include "platform/icon_pixmap.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "platform/ui_test_window.h"
#include "support/session_bus.h"

namespace wardex {
namespace {

using namespace platform;
using std::chrono::milliseconds;
using test::PumpUntil;

TEST(DbusMenuLayoutTest, LabelsTakeTheDbusmenuMnemonicForm) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"Info", "Info"},
      {u"&Settings", "_Settings"},
      {u"Brisko && Co", "Brisko & Co"},
      {u"Save_as", "Save__as"},
      {u"a&&&b", "a&_b"},
      {u"Trailing &", "Trailing "},
      {u"Schlie\u00DFen", "Schlie\u00DFen"},
      {u"", ""},
  };
  for (const auto& [text, label] : cases) {
    EXPECT_EQ(DbusMenuLabel(KaOSAL::KaString(text)), label);
  }
}

TEST(DbusMenuLayoutTest, ItemsKeepTheirIdsAndChangesAreClassified) {
  Menu menu;
  menu.AppendItem(MF_STRING, 0x8010, u"Start");
  menu.AppendItem(MF_STRING | MF_GRAYED, 0x8019, u"Last");
  menu.AppendItem(MF_SEPARATOR, 0, u"");
  menu.AppendItem(MF_STRING, 0x8012, u"Close");
  const std::vector<DbusMenuItem> before = DbusMenuItems(menu);
  ASSERT_EQ(before.size(), 4u);
  EXPECT_EQ(std::tie(before[1].id, before[1].enabled, before[2].separator, before[2].id),
            std::make_tuple(0x8019, false, true, kSeparatorIdBase));

  // The edit, and whether it changes the layout or which items' properties.
  const std::tuple<const char*, std::function<void(Menu&)>, bool, std::vector<int32_t>> kCases[] = {
      {"nothing", [](Menu&) {}, false, {}},
      {"text", [](Menu& m) { m.ModifyMenu(0, MF_BYPOSITION, 0x8010, u"Go"); }, false, {0x8010}},
      {"enabled", [](Menu& m) { m.EnableMenuItem(0x8019, MF_ENABLED); }, false, {0x8019}},
      {"deleted", [](Menu& m) { m.DeleteMenu(0x8019, MF_BYCOMMAND); }, true, {}},
  };
  for (const auto& [name, edit, layout, properties] : kCases) {
    SCOPED_TRACE(name);
    Menu edited = menu;
    edit(edited);
    const DbusMenuChange change = CompareDbusMenus(before, DbusMenuItems(edited));
    EXPECT_EQ(std::tie(change.layout, change.properties), std::tie(layout, properties));
  }
  // Ids stay with their items when another one goes.
  Menu edited = menu;
  edited.DeleteMenu(0x8019, MF_BYCOMMAND);
  EXPECT_EQ(DbusMenuItems(edited)[2].id, 0x8012);
}

TEST(IconPixmapTest, ScalingAveragesWithoutDarkeningTransparentEdges) {
  // Two opaque red pixels and two transparent black ones become one red
  // pixel of half alpha, not a dark one.
  IconPixmap source{2, 2, {255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 0, 0}};
  const IconPixmap scaled = ScaleIconPixmap(source, 1);
  EXPECT_EQ(scaled.argb, (std::vector<uint8_t>{128, 255, 0, 0}));
  // The sizes each icon comes in are checked on the bus by the agent's desktop test.
  EXPECT_TRUE(IconPixmaps(999).empty());
}

// Whether |future| holds its value, without waiting for it.
template <typename T>
bool Ready(std::future<T>& future) {
  return future.wait_for(milliseconds(0)) == std::future_status::ready;
}

constexpr UINT kCallback = 0x800A;
constexpr UINT kIconId = 130;
constexpr UINT kRun = WM_USER + 50;

// A user-interface thread with the desktop backend and a tray icon.
class DesktopShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ok()) << bus_.error();
    bus_.ExportToEnvironment();
    bool ok = false;
    RunOnUi([&] {
      auto shell = CreateDesktopShell(ui_.loop());
      SetShellBackend(shell);
      tray_ = std::make_unique<CSystemTray>();
      ok = shell != nullptr &&
           tray_->Create(nullptr, kCallback, u"Tip", LoadIconImage(128), kIconId);
    });
    ASSERT_TRUE(ok);
  }
  void TearDown() override {
    RunOnUi([this] {
      if (tray_ != nullptr) tray_->DestroyWindow();
      tray_.reset();
      SetShellBackend(nullptr);
    });
  }
  // Runs |function| on the user-interface thread and waits for it.
  void RunOnUi(std::function<void()> function) {
    SendMessage(ui_.hwnd(), kRun, reinterpret_cast<WPARAM>(&function), 0);
  }

  test::PrivateSessionBus bus_;
  UiThread ui_{[](UINT message, WPARAM wparam, LPARAM) -> LRESULT {
    if (message == kRun) (*reinterpret_cast<std::function<void()>*>(wparam))();
    return 0;
  }};
  std::unique_ptr<CSystemTray> tray_;
};

// (That a panel which comes after a shown icon gets it is the agent's
// desktop test's.)
TEST_F(DesktopShellTest, AHiddenIconIsPassiveAndMeetsANewPanelOnlyWhenShown) {
  test::TestTrayHost host(bus_.address(),
                          "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1");
  ASSERT_TRUE(host.ok());
  EXPECT_EQ(host.ItemString("Status"), "Active");
  RunOnUi([this] { EXPECT_TRUE(tray_->HideIcon()); });
  ASSERT_TRUE(PumpUntil({&host}, [&] {
    return std::find(host.signals.begin(), host.signals.end(), "NewStatus:Passive") !=
           host.signals.end();
  }));
  EXPECT_EQ(host.ItemString("Status"), "Passive");

  // A new panel does not get a hidden icon...
  test::TestWatcher watcher(bus_.address());
  ASSERT_TRUE(watcher.ok());
  EXPECT_FALSE(PumpUntil(
      {&watcher, &host}, [&] { return !watcher.registrations.empty(); }, milliseconds(1000)));
  // ...until it is shown again.
  RunOnUi([this] { EXPECT_TRUE(tray_->ShowIcon()); });
  ASSERT_TRUE(PumpUntil({&watcher, &host}, [&] { return !watcher.registrations.empty(); }));
  EXPECT_EQ(host.ItemString("Status"), "Active");
}

TEST_F(DesktopShellTest, AnIdleConnectionCostsTheLoopNoWakeUp) {
  test::TestWatcher watcher(bus_.address());
  ASSERT_TRUE(PumpUntil({&watcher}, [&] { return !watcher.registrations.empty(); }));
  RunOnUi([] {});  // the registration's reply has been handled
  std::this_thread::sleep_for(milliseconds(200));
  const uint64_t before = ui_.loop().wakeups();
  std::this_thread::sleep_for(milliseconds(1500));
  EXPECT_EQ(ui_.loop().wakeups(), before);
}

TEST_F(DesktopShellTest, TheMessageBoxIsANotificationThatWaitsForTheUsersButton) {
  test::BusPeer stranger(bus_.address());
  ASSERT_TRUE(stranger.ok());
  // The case, whether the server draws buttons, what happens to the
  // notification in order ("close": the user dismisses it, "K": the user
  // presses action K, "stranger K": another program reports action K), the
  // button answered.
  const std::tuple<const char*, bool, std::vector<std::string>, int> kCases[] = {
      {"OK", true, {"1"}, IDOK},
      {"Cancel", true, {"2"}, IDCANCEL},
      {"dismissed", true, {"close"}, IDCANCEL},
      {"closed, then the action", true, {"close", "1"}, IDOK},
      {"another program's OK, then the user's Cancel", true, {"stranger 1", "2"}, IDCANCEL},
      {"no buttons on this server", false, {}, IDCANCEL},
  };
  for (const auto& [name, server_has_actions, steps, button] : kCases) {
    SCOPED_TRACE(name);
    test::TestNotificationServer server(bus_.address(), {server_has_actions ? "actions" : "body"});
    ASSERT_TRUE(server.ok());
    std::promise<int> answer;
    std::function<void()> ask = [&answer] {
      answer.set_value(MessageBox(nullptr, u"Enter Exception?", u"Question",
                                  MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2));
    };
    PostMessage(ui_.hwnd(), kRun, reinterpret_cast<WPARAM>(&ask), 0);
    auto answered = answer.get_future();
    if (server_has_actions) {
      ASSERT_TRUE(PumpUntil({&server}, [&] { return !server.notifications.empty(); }));
      const auto& shown = server.notifications.back();
      EXPECT_EQ(std::tie(shown.summary, shown.body, shown.expire_timeout, shown.actions),
                std::make_tuple("Question", "Enter Exception?", 0,
                                std::vector<std::string>{"1", "OK", "2", "Cancel"}));
      // Nobody answers for the user.
      EXPECT_FALSE(PumpUntil(
          {&server}, [&] { return Ready(answered); }, milliseconds(500)));
      for (const std::string& step : steps) {
        if (step == "close") {
          server.Close(shown.id, 2);
        } else if (step.starts_with("stranger ")) {
          test::EmitActionInvoked(stranger.bus(), shown.id, step.substr(9));
        } else {
          server.InvokeAction(shown.id, step);
        }
      }
    }
    ASSERT_TRUE(PumpUntil({&server}, [&] { return Ready(answered); }));
    EXPECT_EQ(answered.get(), button);
    EXPECT_EQ(server.notifications.empty(), !server_has_actions);
  }
}

// The Console's notifications as the servers draw them: the button once,
// as a "default" action that LXQt draws, and as a drawn action beside the
// "default" that GNOME and Plasma hide behind a click on the body; the
// desktop's name and icon for it; and the button pressed only by the server
// that showed it, with a key offered.
TEST_F(DesktopShellTest, TheConsolesNotificationsShowTheirButtonOnceAndOnlyTheServerPressesIt) {
  // GNOME's user presses the button, Plasma's clicks the body.
  // The name the server gives itself, its capabilities, the actions it gets,
  // the key it reports for the user's click.
  using Strings = std::vector<std::string>;
  const Strings kBoth = {"default", "Details", "run", "Details"};
  const std::tuple<std::string, Strings, Strings, const char*> kCases[] = {
      {"gnome-shell", {"actions"}, kBoth, "run"},
      {"plasma", {"actions"}, kBoth, "default"},
      {"lxqt-notificationd", {"actions"}, {"default", "Details"}, "default"},
      {"test", {"body"}, {}, nullptr},
  };
  for (const auto& [name, capabilities, actions, click] : kCases) {
    SCOPED_TRACE(name);
    test::TestNotificationServer server(bus_.address(), capabilities, name);
    test::BusPeer stranger(bus_.address());
    ASSERT_TRUE(server.ok() && stranger.ok());
    const std::string ran = ::testing::TempDir() + "ran-" + std::to_string(getpid());
    unlink(ran.c_str());
    std::promise<bool> shown;
    DesktopNotification notification{u"Update", u"Ready", 30, u"", u"Details", u"", u""};
    notification.command_line = KaOSAL::FromUtf8("/usr/bin/touch " + ran).c_str();
    ShowDesktopNotification(notification, [&shown](bool taken) { shown.set_value(taken); });
    auto answered = shown.get_future();
    ASSERT_TRUE(PumpUntil({&server}, [&] { return Ready(answered); }));
    EXPECT_TRUE(answered.get());
    ASSERT_EQ(server.notifications.size(), 1u);
    const auto& received = server.notifications[0];
    EXPECT_EQ(std::tie(received.actions, received.icon, received.desktop_entry),
              std::make_tuple(actions, "wardex", "org.wardex.Console"));
    if (click == nullptr) continue;

    // Another program, and a key the notification did not offer, press nothing.
    test::EmitActionInvoked(stranger.bus(), received.id, click);
    server.InvokeAction(received.id, "open");
    RunOnUi([] {});
    EXPECT_FALSE(PumpUntil(
        {&server, &stranger}, [&] { return access(ran.c_str(), F_OK) == 0; }, milliseconds(500)));
    server.InvokeAction(received.id, click);
    EXPECT_TRUE(PumpUntil({&server}, [&] { return access(ran.c_str(), F_OK) == 0; }));
  }
}

// A server that never answers costs the tray nothing, and its notification
// counts as not shown once the call's time is up.
TEST_F(DesktopShellTest, AStalledNotificationServerNeitherBlocksTheTrayNorCountsAsShown) {
  test::TestNotificationServer server(bus_.address(), {"actions"});
  ASSERT_TRUE(server.ok());
  server.answers = false;
  std::promise<bool> shown;
  ShowDesktopNotification({u"News", u"Body", 0, u"", u"", u"", u""},
                          [&shown](bool taken) { shown.set_value(taken); });
  auto answered = shown.get_future();
  ASSERT_TRUE(PumpUntil({&server}, [&] { return !server.notifications.empty(); }));
  const auto before = std::chrono::steady_clock::now();
  RunOnUi([] {});
  EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(1000));
  ASSERT_TRUE(PumpUntil({&server}, [&] { return Ready(answered); }));
  EXPECT_FALSE(answered.get());
}

}  // namespace
}  // namespace wardex
