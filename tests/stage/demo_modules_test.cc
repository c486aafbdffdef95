// The demo modules of the staged tree, loaded the way the agent loads them
// (ModuleLoader, through the trust check), doing their work.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fixtures/null_console_view.h"
#include "modules/module_loader.h"
#include "platform/named_objects.h"
#include "stage_test_env.h"
#include "support/wait.h"
#include "wardex/console_view.h"
#include "wardex/kernel_object_names.h"
#include "wardex/module.h"
#include "wardex/quick_check.h"

namespace wardex::test {
namespace {

namespace fs = std::filesystem;

// Where the modules look on each system: the variables that name the home
// folder, the user's state folder and the temporary folder. Linux's move the
// folders, and the test points them at its own; on Windows only the
// temporary folder's does, so the tests use the prefix user's known folders,
// take turns there (a resource lock) and clear the modules' state first.
struct SystemFolders {
  const char* home;
  const char* state;
  const char* temp;
  bool movable;  // home and state
};
#ifdef _WIN32
constexpr SystemFolders kFolders = {"USERPROFILE", "LOCALAPPDATA", "TMP", false};
#else
constexpr SystemFolders kFolders = {"HOME", "XDG_STATE_HOME", "TMPDIR", true};
#endif

KaOSAL::KaString ModulePath(const std::string& name) {
  return Wide(StagedApp() + "/modules/" + name + "/" + name + kLibrarySuffix);
}

// A result text of |module|, read with the agent's buffer size.
template <typename Result>
std::string ReadText(IModule* module, Result (IModule::*getter)(char16_t*, int32_t, int32_t)) {
  std::vector<char16_t> buffer(4096, u'x');
  (module->*getter)(buffer.data(), static_cast<int32_t>(buffer.size()), -1);
  return Narrow(KaOSAL::KaString(buffer.data()));
}

// A Console view that records the messages it was asked to show.
class RecordingView final : public test::NullConsoleView {
 public:
  void ShowMessage(KaOSAL::KaString text, KaOSAL::KaString title, int32_t seconds, KaOSAL::KaString,
                   KaOSAL::KaString) override {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.push_back(Narrow(title) + ": " + Narrow(text) + " (" + std::to_string(seconds) + ")");
  }

  std::vector<std::string> messages() {
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> messages_;
};

// The last-notification event's state as another process sees it: true when set.
bool LastNotificationEventSet() {
  auto event = platform::NamedEvent::Open(kLastNotificationEventName);
  return event != nullptr && event->Wait(0) == platform::WaitResult::kSignaled;
}

class DemoModulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The Wardex module checks the free space of the home folder.
    if (kFolders.movable) env_.env().Set(kFolders.home, env_.root().path());
    home_ = std::getenv(kFolders.home);
    state_ = std::string(std::getenv(kFolders.state)) + "/wardex";
    for (const char* kept : {"modules", "handsets", "turbo"}) fs::remove_all(state_ + "/" + kept);
  }
  StageTestEnv env_;
  std::string home_;   // as the system writes it
  std::string state_;  // the modules' state folder
};

// Register leaves a marker that Unregister removes.
TEST_F(DemoModulesTest, MenuTextsFlagsAndRegistration) {
  const std::tuple<const char*, std::string, uint32_t> cases[] = {
      {"WardexModule", "Free disk space", kModuleFlagRunsTasks},
      {"SnapCheckModule", "Snap-Check", kModuleFlagRunsTasks | kModuleFlagRefusesRunRequest},
      {"TurboModule", "Turbo mode", kModuleFlagSwitch},
      {"HandsetLinkModule", "", 0},
  };
  for (const auto& [name, menu_text, flags] : cases) {
    ModuleLoader loader;
    IModule* module = loader.Load(ModulePath(name));
    ASSERT_NE(module, nullptr) << name;
    EXPECT_EQ(module->GetFlags(), flags) << name;
    const int32_t length = module->GetMenuText(nullptr, 0);
    ASSERT_EQ(length, static_cast<int32_t>(menu_text.size())) << name;
    std::vector<char16_t> buffer(static_cast<size_t>(length) + 1);
    module->GetMenuText(buffer.data(), length + 1);
    EXPECT_EQ(Narrow(KaOSAL::KaString(buffer.data())), menu_text);
    // A buffer too small gets a cut, terminated text.
    char16_t small[5] = {u'x', u'x', u'x', u'x', u'x'};
    EXPECT_EQ(module->GetMenuText(small, 4), length);
    EXPECT_EQ(Narrow(KaOSAL::KaString(small)), menu_text.substr(0, 3));

    const std::string marker = state_ + "/modules/" + std::string(name) + ".registered";
    module->Register();
    EXPECT_NE(ReadFile(marker).find("registered="), std::string::npos) << name;
    module->Unregister();
    EXPECT_FALSE(fs::exists(marker)) << name;
    module->Unregister();  // nothing to remove is no failure
  }
  EXPECT_TRUE(env_.LogTexts("WardexModule: could not").empty());
}

TEST_F(DemoModulesTest, HandsetLinkReportsHandsetsWhileItMonitors) {
  const std::string handsets = state_ + "/handsets";
  ASSERT_TRUE(WriteFile(handsets + "/phone-a", ""));
  const auto logged = [&](size_t count) {
    return WaitFor([&] { return env_.LogTexts("HandsetLinkModule: ").size() == count; });
  };
  ModuleLoader loader;
  IModule* module = loader.Load(ModulePath("HandsetLinkModule"));
  ASSERT_NE(module, nullptr);
  module->StartMonitoring(0, 0);
  module->StartMonitoring(0, 0);  // once is enough
  ASSERT_TRUE(logged(2));
  fs::rename(handsets + "/phone-a", handsets + "/phone-b");
  EXPECT_TRUE(logged(4));
  module->StopMonitoring();
  module->StopMonitoring();  // the agent stops it at close and again at its end
  ASSERT_TRUE(WriteFile(handsets + "/phone-c", ""));  // not seen once stopped
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(env_.LogTexts("HandsetLinkModule: "),
            (std::vector<std::string>{
                "HandsetLinkModule: monitoring started", "HandsetLinkModule: phone-a linked",
                "HandsetLinkModule: phone-b linked", "HandsetLinkModule: phone-a gone",
                "HandsetLinkModule: monitoring stopped"}));
}

TEST_F(DemoModulesTest, TurboStatePersistsAcrossLoadsAndIsAnnounced) {
  RecordingView view;
  {
    ModuleLoader loader;
    IModule* module = loader.Load(ModulePath("TurboModule"));
    ASSERT_NE(module, nullptr);
    IModuleSwitch* turbo = ToModuleSwitch(module);
    module->SetConsoleView(&view);
    EXPECT_EQ(turbo->GetSwitchState(0, 0, 2), 0);  // no state file yet: off
    EXPECT_TRUE(turbo->SetSwitchState(1, 2));
    EXPECT_FALSE(turbo->SetSwitchState(1, 2));  // already on: no change
    EXPECT_EQ(turbo->GetSwitchState(0, 0, -1), 1);
    EXPECT_EQ(ReadText(module, &IModule::GetResultText), "Turbo mode is on");
  }
  EXPECT_EQ(ReadFile(state_ + "/turbo"), "1\n");
  {
    ModuleLoader loader;
    IModule* module = loader.Load(ModulePath("TurboModule"));
    ASSERT_NE(module, nullptr);
    IModuleSwitch* turbo = ToModuleSwitch(module);
    EXPECT_EQ(turbo->GetSwitchState(0, 0, 2), 1);  // kept by the first load
    EXPECT_TRUE(turbo->SetSwitchState(0, 2));      // no console view now: still switched
    EXPECT_EQ(turbo->GetSwitchState(0, 0, 2), 0);
    // The state is read anew: another process may have written it.
    ASSERT_TRUE(WriteFile(state_ + "/turbo", "1\n"));
    EXPECT_EQ(turbo->GetSwitchState(0, 0, 2), 1);
    ASSERT_TRUE(WriteFile(state_ + "/turbo", "garbage"));
    EXPECT_EQ(turbo->GetSwitchState(0, 0, 2), 0);
  }
  EXPECT_EQ(view.messages(), std::vector<std::string>{"Turbo: Turbo mode is on (5)"});
}

TEST_F(DemoModulesTest, SnapCheckTaskAndWindowReportTheScan) {
  const std::string temp = SystemPath(env_.root().path() + "/tmp");
  ASSERT_TRUE(WriteFile(temp + "/a.txt", std::string(10, 'a')));
  ASSERT_TRUE(WriteFile(temp + "/sub/b.txt", std::string(20, 'b')));
  ASSERT_TRUE(WriteFile(temp + "/sub/deeper/c.txt", std::string(2000, 'c')));
  env_.env().Set(kFolders.temp, temp);

  ModuleLoader loader;
  IModule* module = loader.Load(ModulePath("SnapCheckModule"));
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->GetResultLevel(-1), 0.0);
  module->StartTask(0, 0, -1);
  module->StopTask(1);  // waits for the scan
  EXPECT_EQ(module->GetResultLevel(-1), 100.0);
  EXPECT_EQ(ReadText(module, &IModule::GetResultText), "Temporary files found");
  EXPECT_EQ(ReadText(module, &IModule::GetResultDescription), "3 files, 2.0 KB in " + temp);

  // Its window is a Console view, one per control, that runs the check when refreshed.
  ISnapCheckControl* control = GetQuickCheckControl(module);
  ASSERT_NE(control, nullptr);
  IModuleWindow* window = control->GetWindow(0);
  auto* view = dynamic_cast<IConsoleView*>(window);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(GetQuickCheckControl(module)->GetWindow(0), window);
  env_.ClearLog();
  view->Refresh();
  EXPECT_EQ(env_.LogTexts("SnapCheckModule: quick check"),
            std::vector<std::string>{"SnapCheckModule: quick check: 3 files, 2.0 KB in " + temp});
}

// The agent's own module object and the one its module cache loads for pipe
// requests share the last notification, the Console view and the event.
TEST_F(DemoModulesTest, WardexTaskReportsFreeSpaceAndBothObjectsKeepTheNotification) {
  RecordingView view;
  EXPECT_FALSE(LastNotificationEventSet());
  {
    ModuleLoader menus;
    IModule* for_menu = menus.Load(ModulePath("WardexModule"));
    ASSERT_NE(for_menu, nullptr);
    for_menu->SetConsoleView(&view);
    EXPECT_FALSE(LastNotificationEventSet());  // nothing to show again yet
    for_menu->RunTask(1);                      // and so nothing is shown
    EXPECT_TRUE(view.messages().empty());
    std::vector<std::string> shown;
    {
      ModuleLoader cache;
      IModule* module = cache.Load(ModulePath("WardexModule"));
      ASSERT_NE(module, nullptr);
      module->SetConsoleView(nullptr);  // leaves the other object's view in place
      module->RunTask(-1);              // runs the check and returns with its result
      const double level = module->GetResultLevel(-1);
      EXPECT_TRUE(level > 0.0 && level <= 100.0) << level;
      const std::string text = ReadText(module, &IModule::GetResultText);
      EXPECT_EQ(text, level < 10.0 ? "Low disk space" : "Enough free disk space");
      const std::string description = ReadText(module, &IModule::GetResultDescription);
      EXPECT_NE(description.find(" free on " + home_ + " ("), std::string::npos) << description;
      EXPECT_EQ(ReadText(module, &IModule::GetResultDetails), home_);
      EXPECT_EQ(ReadText(module, &IModule::GetSubResults).rfind("FreeBytes=", 0), 0u);
      // Shown through the view the first object got.
      shown = view.messages();
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0], text + ": " + description + " (30)");
    }
    // The pipe's object went; the notification stays for the menu's.
    EXPECT_TRUE(LastNotificationEventSet());
    for_menu->RunTask(1);  // the tray's "show the last notification"
    EXPECT_EQ(view.messages(), (std::vector<std::string>{shown[0], shown[0]}));
  }
  // Unloaded, the module has nothing to show any more.
  EXPECT_FALSE(LastNotificationEventSet());
}

TEST_F(DemoModulesTest, WardexTasksFromSeveralThreadsAtOnce) {
  ModuleLoader loader;
  IModule* module = loader.Load(ModulePath("WardexModule"));
  ASSERT_NE(module, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([module] {
      for (int round = 0; round < Scaled(20, 5); ++round) {
        module->StartTask(0, 0, -1);
        module->RunTask(-1);
        module->StopTask(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_GT(module->GetResultLevel(-1), 0.0);
  EXPECT_TRUE(LastNotificationEventSet());
}

// The agent starts monitoring before it hands over the Console: what the
// first check reported waits for it. A home that cannot be asked (where the
// test can move it) makes the check fail, which monitoring reports.
TEST_F(DemoModulesTest, WardexMonitoringChecksAtOnceAndShowsItWhenTheConsoleComes) {
  const std::string gone = env_.root().path() + "/gone";
  env_.env().Set(kFolders.home, gone);
  RecordingView view;
  ModuleLoader loader;
  IModule* module = loader.Load(ModulePath("WardexModule"));
  ASSERT_NE(module, nullptr);
  module->StartMonitoring(0, 0);
  module->StartMonitoring(0, 0);  // a second start does not double the monitor
  module->StopMonitoring();       // returns at once, though the next check is an hour away
  EXPECT_EQ(env_.LogTexts("WardexModule: checking free space of ").size(), 1u);
  module->SetConsoleView(&view);
  if (kFolders.movable) {
    const std::string failed = "Disk check failed: Could not read the free space of " + gone;
    EXPECT_EQ(view.messages(), std::vector<std::string>{failed + ": 2 (30)"});
  }
}

}  // namespace
}  // namespace wardex::test
