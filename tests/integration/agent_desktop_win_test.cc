// Wardex.exe under Wine on the stage's display, as a user meets it: its icon
// in the notification area, a restarted taskbar, the tray menu's Close and the
// autostart entry. What the agent does behind them is the shared suites'.
#include <windows.h>
// After <windows.h>, which they need.
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "integration/agent_harness.h"
#include "support/wine_desktop_win.h"

namespace wardex::test {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kExitWait{15000};
constexpr milliseconds kEventWait{10000};
constexpr UINT kIconId = 130;  // the frame's icon
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kEntry[] = L"Corvane Brisko (Wardex.exe)";

// The agent's icon, shown in Wine's tray with the tray drawing's blue.
HWND ShownIcon() {
  HWND shown = nullptr;
  WaitFor(
      [&] {
        const std::vector<HWND> icons = TrayIconWindows();
        shown = icons.size() == 1 && PixelsOfColour(icons[0], kTrayBlue) > 20 ? icons[0] : nullptr;
        return shown != nullptr;
      },
      kEventWait);
  return shown;
}

// Deletes the agent's icon as a restarting shell forgets it: the owner is
// whichever of the agent's windows the shell knows it by.
bool ForgetIcon(DWORD agent) {
  struct Search {
    DWORD agent;
    bool deleted = false;
  } search{agent};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& search = *reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        NOTIFYICONDATAW data = {};
        data.cbSize = sizeof(data);
        data.hWnd = window;
        data.uID = kIconId;
        search.deleted = owner == search.agent && Shell_NotifyIconW(NIM_DELETE, &data);
        return !search.deleted;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.deleted;
}

// The agent's autostart value under |root|'s Run key, or "(none)".
std::wstring RunValue(HKEY root) {
  wchar_t value[1024] = {};
  DWORD size = sizeof(value);
  return RegGetValueW(root, kRunKey, kEntry, RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS
             ? value
             : L"(none)";
}

class AgentDesktopTest : public AgentTest {};

TEST_F(AgentDesktopTest, IconTaskbarRestartAndTheMenusClose) {
  AgentTree& tree = NewTree();
  tree.AddFrameModules();
  UnsetEnv("WARDEX_SHELL");  // the notification area, not the test shell
  auto agent = tree.StartAndWait();
  ASSERT_TRUE(agent) << tree.Diagnostics();
  HWND icon = ShownIcon();
  ASSERT_NE(icon, nullptr);

  // Wine never announces a new taskbar: the test plays one that has
  // forgotten the icon.
  ASSERT_TRUE(ForgetIcon(static_cast<DWORD>(agent->pid())));
  ASSERT_TRUE(WaitFor([] { return TrayIconWindows().empty(); }, kEventWait));
  PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  icon = ShownIcon();
  ASSERT_NE(icon, nullptr) << "the icon did not come back";

  // The menu opens on a right click; its last item, Close, closes the agent.
  Click(icon, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
  HWND menu = WaitForWindow(L"#32768");
  ASSERT_NE(menu, nullptr);
  // Wine keeps a menu's items in its owner's process: the log shows the choice.
  PostKeys(menu, {VK_UP, VK_RETURN});
  EXPECT_EQ(agent->Wait(kExitWait), 0) << tree.Diagnostics();
  EXPECT_TRUE(tree.WaitForLog("TRAY ### Closing...", kEventWait));
  EXPECT_TRUE(WaitFor([] { return TrayIconWindows().empty(); }, kEventWait));
}

// Where the scheduler takes no logon task (NT 5: Wine told to be Windows XP
// for the agent alone) the entry is the Run value. Wine refuses the work
// item of a name with a dot, so the scheduler's entry cannot be shown here.
TEST_F(AgentDesktopTest, RegisterWritesTheRunValueAndUnregisterRemovesItLoggingForTheUser) {
  AgentTree& tree = NewTree();
  const std::wstring app_defaults = L"Software\\Wine\\AppDefaults\\Wardex.exe";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, app_defaults.c_str(), L"Version", REG_SZ, L"winxp64",
                            sizeof(L"winxp64")),
            ERROR_SUCCESS);
  // Without a log file named, the log is the user's, in the local
  // application data folder.
  UnsetEnv("WARDEX_LOG_FILE");
  auto registering = tree.Start({"-register"});
  ASSERT_TRUE(registering);
  EXPECT_EQ(registering->Wait(kExitWait), 0);
  wchar_t* local = nullptr;
  ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local), S_OK);
  const std::filesystem::path log = std::filesystem::path(local) / "Wardex/log/wardex.log";
  CoTaskMemFree(local);
  EXPECT_EQ(CountContaining(ReadLines(log.string()), "WorkingDir: " + SystemPath(tree.app_dir())),
            1u);
  const std::wstring program = std::filesystem::path(SystemPath(tree.app_dir() + "/Wardex.exe"));
  EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), L"\"" + program + L"\"");
  auto unregistering = tree.Start({"-unregister"});
  ASSERT_TRUE(unregistering);
  EXPECT_EQ(unregistering->Wait(kExitWait), 0);
  EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), L"(none)");
  RegDeleteTreeW(HKEY_CURRENT_USER, app_defaults.c_str());
}

}  // namespace
}  // namespace wardex::test
