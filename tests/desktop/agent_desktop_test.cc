// The real agent on a desktop session: a private session bus with a
// StatusNotifierWatcher, a notification server and a tray host, all written
// in the tests against the protocols, and the agent's desktop backend.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <tuple>

#include "desktop/desktop_peers.h"
#include "integration/agent_harness.h"
#include "support/session_bus.h"

namespace wardex::test {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kWait{15000};
constexpr int32_t kStart = 0x8010, kQuickCheck = 0x8017, kLastNotification = 0x8019,
                  kTurbo = 0x8018, kSettings = 0x8015, kInfo = 0x8016, kClose = 0x8012;

class AgentDesktopTest : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    if (IsSkipped()) return;
    bus_ = std::make_unique<PrivateSessionBus>();
    ASSERT_TRUE(bus_->ok()) << bus_->error();
    NewTree();
    bus_->ExportToEnvironment();
    setenv("WARDEX_SHELL", "desktop", 1);
    watcher_ = std::make_unique<TestWatcher>(bus_->address());
    server_ = std::make_unique<TestNotificationServer>(
        bus_->address(), std::vector<std::string>{"actions", "body", "body-markup"});
    ASSERT_TRUE(watcher_->ok() && server_->ok());
  }
  void TearDown() override {
    agent_.reset();
    host_.reset();
    AgentTest::TearDown();
  }
  // Starts the agent and waits until it registered its item; the host then
  // talks to the name the item gave the watcher.
  void StartAgent() {
    agent_ = tree_->StartAndWait();
    ASSERT_TRUE(agent_) << tree_->Diagnostics();
    ASSERT_TRUE(Pump([&] { return !watcher_->registrations.empty(); })) << tree_->Diagnostics();
    const std::string item = watcher_->registrations.back();
    EXPECT_EQ(item, "org.kde.StatusNotifierItem-" + std::to_string(agent_->pid()) + "-1");
    host_ = std::make_unique<TestTrayHost>(bus_->address(), item);
    ASSERT_TRUE(host_->ok());
  }
  bool Pump(const std::function<bool()>& done, milliseconds timeout = kWait) {
    return host_ ? PumpUntil({watcher_.get(), server_.get(), host_.get()}, done, timeout)
                 : PumpUntil({watcher_.get(), server_.get()}, done, timeout);
  }
  // Pumps until the host received a signal that begins with |prefix|.
  bool PumpUntilSignal(const std::string& prefix) {
    return Pump([&] {
      return std::any_of(host_->signals.begin(), host_->signals.end(),
                         [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
    });
  }
  // The menu as "id:label" (":-" for a separator, "!" before a grey label).
  std::vector<std::string> MenuEntries() {
    TestTrayHost::Layout layout;
    std::string error;
    EXPECT_TRUE(host_->GetLayout(&layout, &error)) << error;
    EXPECT_EQ(layout.root["children-display"], "submenu");
    std::vector<std::string> entries;
    for (auto& [id, properties] : layout.items) {
      entries.push_back(
          properties["type"] == "separator"
              ? ":-"
              : Entry(id, (properties["enabled"] == "false" ? "!" : "") + properties["label"]));
    }
    return entries;
  }
  static std::string Entry(int32_t id, const std::string& label) {
    return std::to_string(id) + ":" + label;
  }

  std::unique_ptr<PrivateSessionBus> bus_;
  std::unique_ptr<TestWatcher> watcher_;
  std::unique_ptr<TestNotificationServer> server_;
  std::unique_ptr<TestTrayHost> host_;
  std::unique_ptr<AgentProcess> agent_;
};

// The product name's "&" reaches the label as "&" (doubled in the menu,
// undone for dbusmenu); the texts' languages are the configuration tests',
// the entries each missing module takes away the menu tests', what each
// command does the pipe and menu tests'.
TEST_F(AgentDesktopTest, TheItemShowsItsMenuRefreshesItAndRunsItsCommands) {
  tree_->AddFrameModules("flags=32\nswitch_state=1\n");
  ASSERT_NO_FATAL_FAILURE(StartAgent());
  EXPECT_EQ(host_->ItemString("Status"), "Active");
  EXPECT_EQ(host_->ItemString("Id"), "wardex");
  EXPECT_EQ(host_->ItemString("Category"), "ApplicationStatus");
  EXPECT_EQ(host_->ToolTipTitle(), "Wardex test agent");
  EXPECT_EQ(host_->IconPixmaps(),
            (std::vector<std::string>{"16x16", "22x22", "24x24", "32x32", "48x48"}));
  EXPECT_EQ(MenuEntries(),
            (std::vector<std::string>{
                Entry(kStart, "Start Brisko & Co"), Entry(kQuickCheck, "Quick check"),
                Entry(kLastNotification, "!Last notification"), Entry(kTurbo, "Turbo on"),
                Entry(kSettings, "Settings"), ":-", Entry(kInfo, "Info"), Entry(kClose, "Close")}));

  // A left click as Plasma and LXQt make it: they open the menu themselves
  // only when Activate fails, and its AboutToShow refreshes it. The module's
  // switch is on: the refresh turns the entry into "Turbo off".
  EXPECT_FALSE(host_->CallItem("Activate"));
  bool changed = false;
  std::string error;
  ASSERT_TRUE(host_->AboutToShow(0, &changed, &error)) << error;
  EXPECT_TRUE(changed);
  EXPECT_EQ(MenuEntries()[3], Entry(kTurbo, "Turbo off"));
  EXPECT_TRUE(
      PumpUntilSignal("ItemsPropertiesUpdated:" + std::to_string(kTurbo) + "=Turbo off/true,"))
      << testing::PrintToString(host_->signals);
  ASSERT_TRUE(host_->AboutToShow(0, &changed, &error)) << error;
  EXPECT_FALSE(changed) << "nothing changed since the last refresh";

  // A click reaches the frame's command, a grey item's click none. (That the
  // next refresh follows the switch is the pipe test's tray-command case.)
  for (int32_t id : {kLastNotification, kTurbo, kInfo})
    ASSERT_TRUE(host_->Event(id, "clicked", &error)) << error;
  EXPECT_TRUE(tree_->WaitForJournal("TurboModule set-switch 0 2", kWait));
  EXPECT_TRUE(tree_->WaitForJournal("console show-info", kWait));
  EXPECT_EQ(CountContaining(tree_->Journal(), "WardexModule run-task 1"), 0u);
  ASSERT_TRUE(host_->Event(kClose, "clicked", &error)) << error;
  EXPECT_EQ(agent_->Wait(kWait), 0);
  EXPECT_EQ(CountContaining(tree_->LogTexts(), "TRAY ### Closing..."), 1u);
}

TEST_F(AgentDesktopTest, BalloonsBecomeOneNotificationAndItsActionIsTheBalloonClick) {
  tree_->AddModule("WardexModule");  // no Console: messages are balloons
  ASSERT_NO_FATAL_FAILURE(StartAgent());

  EXPECT_EQ(tree_->Send(R"({"ModuleRequest":7,"MessageHeader":"Scan done","Message":"a < b & c"})"),
            R"([{"ModuleIdentificator":"","ModuleRequest":7}])");
  ASSERT_TRUE(Pump([&] { return server_->notifications.size() == 1; }));
  const auto first = server_->notifications[0];
  // The server renders markup; the first action is the body's click.
  EXPECT_EQ(
      std::tie(first.summary, first.body, first.icon, first.expire_timeout, first.replaces_id),
      std::make_tuple("Scan done", "a &lt; b &amp; c", "dialog-information", 3000, 0u));
  ASSERT_GE(first.actions.size(), 2u);
  EXPECT_EQ(first.actions[0], "default");

  tree_->Send(
      R"({"ModuleRequest":10,"MessageHeader":"Update","Message":"Ready","BtnTitle":"Go","BtnCmdLine":"x"})");
  ASSERT_TRUE(Pump([&] { return server_->notifications.size() == 2; }));
  const auto second = server_->notifications[1];
  // One notification per icon, replaced in place.
  EXPECT_EQ(std::tie(second.summary, second.body, second.expire_timeout, second.replaces_id),
            std::make_tuple("Update", "Ready", 30000, first.id));

  // The body's click: the icon's handler refreshes the menu and asks the
  // host to open it.
  server_->InvokeAction(second.id, "default");
  EXPECT_TRUE(PumpUntilSignal("ItemActivationRequested"));
  // A close is the balloon's time-out: the agent takes it and runs on.
  server_->Close(second.id, 1);
  EXPECT_EQ(tree_->Send(kPing), kPingReply);
}

// A session through: it may start without a panel, and a panel may restart:
// each new watcher gets the icon. GNOME's AppIndicator extension drops a
// quickly answering item's first registration, and a watcher may drop one
// without a word: the agent registers again, a bounded number of times for
// each watcher. When the session's bus goes, the agent closes cleanly.
TEST_F(AgentDesktopTest, EachNewWatcherGetsTheIconAndTheSessionBusGoingAwayClosesTheAgent) {
  // The panel, the registrations it drops and whether silently, those it
  // lists in the end, the calls it gets.
  const std::tuple<const char*, int, bool, size_t, int> kCases[] = {
      {"a new panel", 0, false, 1, 1},
      {"dropped once", 1, false, 1, 2},
      {"dropped once without a word", 1, true, 1, 2},
      {"dropped every time", 100, false, 0, 6},
  };
  watcher_.reset();  // the session starts without a panel
  tree_->AddFrameModules();
  agent_ = tree_->StartAndWait();
  ASSERT_TRUE(agent_) << tree_->Diagnostics();
  ASSERT_TRUE(tree_->WaitForLog("SHELL: no status notifier watcher yet", kWait));
  // Told once, after a retry wait: the desktop entry reaches the menu's commands.
  ASSERT_TRUE(tree_->WaitForLog("Tray ### no tray host on this desktop", kWait));
  for (const auto& [panel, drops, silently, listed, calls] : kCases) {
    SCOPED_TRACE(panel);
    watcher_ = std::make_unique<TestWatcher>(bus_->address());
    ASSERT_TRUE(watcher_->ok());
    watcher_->drops = drops;
    watcher_->drop_silently = silently;
    EXPECT_TRUE(Pump([&] { return watcher_->register_calls == calls; }));
    // No more tries once the watcher keeps the icon, or the tries are spent.
    EXPECT_FALSE(Pump([&] { return watcher_->register_calls > calls; }, milliseconds(3000)));
    EXPECT_EQ(watcher_->registrations.size(), listed);
    watcher_.reset();  // the panel goes away
  }
  const std::vector<std::string> log = tree_->LogTexts();
  EXPECT_EQ(CountContaining(log, "SHELL: a status notifier watcher appeared"), 4u);
  EXPECT_EQ(CountContaining(log, "no tray host"), 1u);
  EXPECT_EQ(CountContaining(log, "registering it again"), 2u + 5u);
  EXPECT_EQ(CountContaining(log, "registered again 5 times, not any more"), 1u);

  server_.reset();
  ASSERT_TRUE(bus_->Stop());
  EXPECT_EQ(agent_->Wait(kWait), 0) << tree_->Diagnostics();
  EXPECT_TRUE(ContainsInOrder(tree_->LogTexts(), {"SHELL: the session bus has gone",
                                                  "TRAY ### Closing...", "TRAY ### Remove Icon"}));
}

TEST_F(AgentDesktopTest, BadInputFromTheBusIsAnsweredWithErrors) {
  tree_->AddModule("TurboModule", "flags=32\n");  // no Wardex module: no settings entry
  ASSERT_NO_FATAL_FAILURE(StartAgent());
  constexpr char kUnknown[] = "com.canonical.dbusmenu.Error.UnknownId";
  constexpr char kInvalid[] = "org.freedesktop.DBus.Error.InvalidArgs";
  // The menu's method, the signature and value of its argument, the error.
  const std::tuple<const char*, const char*, int32_t, const char*> kCases[] = {
      {"AboutToShow", "i", 4242, kUnknown},
      {"AboutToShow", "s", 0, kInvalid},
      {"Event", "i", kTurbo, kInvalid},
      {"GetProperty", "i", 0, kInvalid},
      {"AboutToShowGroup", "ai", 4242, ""},  // unknown ids come back in the reply
      {"NoSuchMethod", "", 0, "org.freedesktop.DBus.Error.UnknownMethod"},
  };
  for (const auto& [member, signature, value, error] : kCases) {
    SCOPED_TRACE(std::string(member) + "(" + signature + ")");
    EXPECT_EQ(host_->CallMenuRaw(member, signature, value), error);
  }
  std::string error;
  EXPECT_FALSE(host_->Event(4242, "clicked", &error));
  EXPECT_EQ(error, kUnknown);
  // The settings entry was removed at start-up: a host with an old layout
  // clicking it gets an error, not the command.
  EXPECT_FALSE(host_->Event(kSettings, "clicked", &error));
  EXPECT_EQ(error, kUnknown);

  // A flood of clicks: each answered or refused, none queued without bound.
  int answered_or_refused = 0;
  for (int i = 0; i < 300; ++i) {
    answered_or_refused += host_->Event(kInfo, "hovered", &error);
    answered_or_refused += host_->Event(kTurbo, "clicked", &error) ||
                           error == "org.freedesktop.DBus.Error.LimitsExceeded";
  }
  EXPECT_EQ(answered_or_refused, 600);
  EXPECT_TRUE(agent_->Running());
  TestTrayHost::Layout layout;
  EXPECT_TRUE(host_->GetLayout(&layout, &error)) << error;
  EXPECT_EQ(tree_->Send(kPing), kPingReply);
}

}  // namespace
}  // namespace wardex::test
