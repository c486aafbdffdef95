// Wardex.exe under Wine on the stage's display, as a user meets it: its icon
// in the notification area, the pipe, a message dialog, a second start, a
// restarted taskbar and the tray menu's Close. The installer test takes the
// same steps with the installed program (WARDEX_TEST_INSTALLED_APP names its
// folder), and checks the autostart entry that its -register writes.
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "integration/agent_harness.h"
#include "integration/user_steps.h"
#include "support/wine_desktop_win.h"

namespace wardex::test {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kExitWait{15000};
// Generous: under Wine on a loaded machine a window or an icon can take seconds.
constexpr milliseconds kEventWait{30000};

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
        data.uID = 130;  // the frame's icon
        search.deleted = owner == search.agent && Shell_NotifyIconW(NIM_DELETE, &data);
        return !search.deleted;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.deleted;
}

using AgentDesktopTest = AgentTest;

TEST_F(AgentDesktopTest, TheUsersStepsFromTheIconToTheMenusClose) {
  // The installed program that the installer test names, else a staged
  // tree with the frame's modules and the real Console.
  const char* installed = std::getenv("WARDEX_TEST_INSTALLED_APP");
  if (installed) tree_ = std::make_unique<AgentTree>(AgentTree::Installed{installed});
  AgentTree& tree = installed ? *tree_ : NewTree();
  if (!installed) {
    tree.AddFrameModules();
    tree.AddDesktopConsole();
    UnsetEnv("WARDEX_SHELL");  // the notification area, not the test shell
  }
  auto agent = tree.StartAndWait();
  ASSERT_TRUE(agent) << tree.Diagnostics();
  HWND icon = ShownIcon();
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(tree.Send(kPing), kPingReply) << tree.Diagnostics();
  EXPECT_EQ(tree.Send(kNotification), kNotificationReply);

  // The dialog waits for the user, who tabs to its second button and presses it.
  std::string reply;
  std::thread sender([&] { reply = tree.Send(kDialog, 60000); });
  HWND dialog = WaitForWindow(L"#32770", L"Update");
  EXPECT_NE(dialog, nullptr);
  if (dialog != nullptr) PostKeys(dialog, {VK_TAB, VK_RETURN});
  sender.join();
  EXPECT_EQ(reply, kDialogAnswer) << tree.Diagnostics();

  // A second start ends at once; with the switch it asks the running agent
  // (kind 13) to show the quick-check view.
  EXPECT_EQ(tree.Run(), 0);
  EXPECT_EQ(tree.Run({"-snapcheck"}), 0);
  EXPECT_TRUE(tree.WaitForLog("Wardex.exe ## ShowSnapCheck", kEventWait));

  // Wine never announces a new taskbar: the test plays one that has
  // forgotten the icon.
  ASSERT_TRUE(ForgetIcon(static_cast<DWORD>(agent->pid())));
  ASSERT_TRUE(WaitFor([] { return TrayIconWindows().empty(); }, kEventWait));
  PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  icon = ShownIcon();
  ASSERT_NE(icon, nullptr) << "the icon did not come back";

  // The menu opens on a right click; its last item, Close, closes the agent.
  // The click goes to the icon's window itself: one made on the screen goes
  // to a balloon of the modules' that may lie over the icon.
  PostMessageW(icon, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(8, 8));
  PostMessageW(icon, WM_RBUTTONUP, 0, MAKELPARAM(8, 8));
  HWND menu = WaitForWindow(L"#32768", nullptr, kEventWait);
  ASSERT_NE(menu, nullptr) << tree.Diagnostics();
  // Wine keeps a menu's items in its owner's process: the log shows the choice.
  PostKeys(menu, {VK_UP, VK_RETURN});
  EXPECT_EQ(agent->Wait(kExitWait), 0) << tree.Diagnostics();
  EXPECT_TRUE(WaitFor([] { return TrayIconWindows().empty(); }, kEventWait));
  // The texts the Linux agent logs for the same steps.
  EXPECT_TRUE(ContainsInOrder(tree.LogTexts(), kUserStepsLog)) << tree.Diagnostics();
}

// Typed in a console, "--help" shows there. Windows gives a GUI program that
// a console starts no standard streams, as this start does.
TEST_F(AgentDesktopTest, HelpShowsInTheConsoleItIsTypedIn) {
  const std::string program = NewTree().app_dir() + "\\Wardex.exe";
  std::wstring command = L"\"" + std::wstring(program.begin(), program.end()) + L"\" --help";
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION started = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &started));
  EXPECT_EQ(WaitForSingleObject(started.hProcess, kExitWait.count()), WAIT_OBJECT_0);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  wchar_t text[13] = {};
  DWORD read = 0;
  const HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(ReadConsoleOutputCharacterW(screen, text, 13, {0, 0}, &read));
  CloseHandle(screen);
  FreeConsole();
  EXPECT_EQ(std::wstring(text, read), L"Usage: wardex");
}

}  // namespace
}  // namespace wardex::test
