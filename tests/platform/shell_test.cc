// The menu model, the compiled-in resources and the shell backends.
#include "platform/shell.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "osal/last_error.h"
#include "platform/headless_shell.h"
#include "platform/menu.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "platform/ui_test_window.h"
#include "support/test_env.h"

namespace wardex::platform {
namespace {

// How many lines of |path| contain |part|.
size_t CountLines(const std::string& path, const std::string& part) {
  size_t count = 0;
  for (const std::string& line : test::ReadLines(path))
    count += line.find(part) != std::string::npos;
  return count;
}

NOTIFYICONDATAW IconData(HWND hwnd, UINT id, UINT flags) {
  NOTIFYICONDATAW data{};
  data.cbSize = kNotifyIconDataSize;
  data.hWnd = hwnd;
  data.uID = id;
  data.uFlags = flags;
  data.uCallbackMessage = 0x800A;
  return data;
}

TEST(MenuTest, ItemsByPositionAndByCommand) {
  Menu menu;
  menu.AppendItem(MF_STRING, 10, u"ten");
  menu.AppendItem(MF_SEPARATOR, 0, u"");
  menu.AppendItem(MF_GRAYED, 20, u"twenty");
  menu.AppendItem(MF_STRING, 30, u"thirty");
  EXPECT_EQ(menu.GetMenuItemID(1), 0u);
  EXPECT_EQ(menu.GetMenuItemID(4), kNoMenuItem);
  EXPECT_EQ(menu.GetMenuItemID(-1), kNoMenuItem);

  EXPECT_EQ(menu.EnableMenuItem(20, MF_ENABLED), MF_GRAYED);  // the previous state
  EXPECT_EQ(menu.EnableMenuItem(20, MF_GRAYED), MF_ENABLED);
  EXPECT_EQ(menu.EnableMenuItem(99, MF_GRAYED), kNoMenuItem);
  EXPECT_EQ(menu.CheckMenuItem(30, MF_CHECKED), MF_UNCHECKED);
  EXPECT_EQ(menu.FindItem(30, MF_BYCOMMAND)->state, MF_CHECKED);
  EXPECT_EQ(menu.CheckMenuItem(99, MF_CHECKED), kNoMenuItem);
  // Checking leaves the enable bits alone, and enabling the check bit.
  EXPECT_EQ(menu.CheckMenuItem(20, MF_CHECKED), MF_UNCHECKED);
  EXPECT_EQ(menu.FindItem(20, MF_BYCOMMAND)->state, MF_GRAYED | MF_CHECKED);
  EXPECT_EQ(menu.EnableMenuItem(20, MF_ENABLED), MF_GRAYED);
  EXPECT_EQ(menu.FindItem(20, MF_BYCOMMAND)->state, MF_CHECKED);

  ASSERT_TRUE(menu.ModifyMenu(3, MF_BYPOSITION | MF_DEFAULT | MF_STRING, 30, u"new"));
  EXPECT_EQ(menu.GetMenuItemID(3), 30u);
  EXPECT_EQ(menu.items()[3].text, u"new");
  EXPECT_EQ(menu.items()[3].state, 0u);  // a replaced item starts plain
  EXPECT_FALSE(menu.ModifyMenu(7, MF_BYPOSITION, 1, u"x"));
  EXPECT_FALSE(menu.ModifyMenu(0, MF_BYCOMMAND, 1, u"x"));  // command 0 is no item
}

TEST(MenuTest, DefaultItemFollowsDeletions) {
  Menu menu;
  for (uint32_t command : {1u, 2u, 3u}) menu.AppendItem(MF_STRING, command, u"x");
  EXPECT_EQ(menu.GetDefaultItem(true), kNoMenuItem);
  ASSERT_TRUE(menu.SetDefaultItem(3, false));
  EXPECT_EQ(menu.GetDefaultItem(true), 2u);
  ASSERT_TRUE(menu.DeleteMenu(0, MF_BYPOSITION));
  EXPECT_EQ(menu.GetDefaultItem(true), 1u);
  EXPECT_EQ(menu.GetDefaultItem(false), 3u);
  ASSERT_TRUE(menu.DeleteMenu(3, MF_BYCOMMAND));
  EXPECT_EQ(menu.GetDefaultItem(false), kNoMenuItem);
  EXPECT_FALSE(menu.DeleteMenu(3, MF_BYCOMMAND));
  EXPECT_FALSE(menu.SetDefaultItem(5, true));
}

TEST(MenuTest, CopiesAreDeep) {
  auto original = LoadMenuResource(IDR_MAINFRAME);
  ASSERT_NE(original, nullptr);
  Menu copy = *original;
  copy.GetSubMenu(0)->DeleteMenu(0x8012, MF_BYCOMMAND);
  EXPECT_EQ(original->GetSubMenu(0)->GetItemCount(), 8);
  EXPECT_EQ(copy.GetSubMenu(0)->GetItemCount(), 7);
  EXPECT_EQ(original->GetMenuItemID(0), kNoMenuItem);  // a pop-up has no command
}

// That the images decode is seen on the bus by the agent's desktop test.
TEST(ResourcesTest, TrayIconsAreImagesOfTheirOwn) {
  const IconResource* normal = FindIconResource(IDI_TRAYICON);
  const IconResource* busy = FindIconResource(IDR_MAINFRAME);
  ASSERT_TRUE(normal != nullptr && busy != nullptr);
  EXPECT_TRUE(normal->png_size != busy->png_size ||
              std::memcmp(normal->png, busy->png, busy->png_size) != 0);

  // Each load a new handle of its resource: the tray's icon cache test.
  EXPECT_EQ(LoadIconImage(129), nullptr);
  EXPECT_EQ(KaOSAL::GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(LoadMenuResource(IDI_TRAYICON), nullptr);
  EXPECT_FALSE(GetAboutDialogTexts().product_line.IsEmpty());
}

class ShellBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { root_.Set("WARDEX_LOG_FILE", log_path_); }
  void TearDown() override { SetShellBackend(nullptr); }

  test::ScopedTestRoot root_;
  const std::string log_path_ = root_.path() + "/wardex.log";
};

TEST_F(ShellBackendTest, HeadlessAcceptsEverythingAndLogsIt) {
  MessageLoop loop;
  RecordingWindow owner;
  ASSERT_NE(owner.Register(), nullptr);
  // Desktop asked for, but no session bus answers.
  root_.Set("WARDEX_SHELL", "desktop");
  root_.Set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root_.path() + "/no-bus");
  ASSERT_TRUE(InstallShellBackendFromEnvironment(loop));
  EXPECT_EQ(CountLines(log_path_,
                       "SHELL: no session bus for the desktop backend, using the "
                       "headless backend"),
            1u);

  NOTIFYICONDATAW data = IconData(owner.hwnd(), 130, NIF_MESSAGE | NIF_TIP);
  CopyToField(data.szTip, kTipLength, u"Tip");
  EXPECT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &data));  // not added: headless still agrees
  EXPECT_TRUE(Shell_NotifyIcon(NIM_ADD, &data));
  EXPECT_TRUE(Shell_NotifyIcon(NIM_ADD, &data));
  data.uFlags = NIF_INFO;
  CopyToField(data.szInfo, kInfoLength, u"Hello");
  CopyToField(data.szInfoTitle, kInfoTitleLength, u"Title");
  EXPECT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &data));
  EXPECT_TRUE(Shell_NotifyIcon(NIM_DELETE, &data));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, nullptr));
  EXPECT_EQ(CountLines(log_path_, "SHELL: balloon on icon 130: \"Title\" \"Hello\""), 1u);
  EXPECT_EQ(CountLines(log_path_, "SHELL: icon 130 added: icon 0, tip \"Tip\", visible"), 2u);
  EXPECT_EQ(CountLines(log_path_, "SHELL: icon 130 removed"), 1u);

  EXPECT_EQ(MessageBox(nullptr, u"Enter Exception?", u"Question",
                       MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2),
            IDCANCEL);
  EXPECT_FALSE(TrackPopupMenu(*LoadMenuResource(IDR_MAINFRAME)->GetSubMenu(0), owner.hwnd()));
}

// A backend that refuses every icon, unlike the headless one.
class RefusingShell : public HeadlessShell {
 public:
  bool NotifyIcon(uint32_t, const NOTIFYICONDATAW&) override { return false; }
};
ShellBackend* MakeRefusingShell(ShellHost* host) {
  return host == &AgentShellHost() ? new RefusingShell : nullptr;
}
ShellBackend* MakeNothing(ShellHost*) { return nullptr; }

TEST_F(ShellBackendTest, AShellLibraryServesOnlyWhenItPassedTheLoaderAndMadeABackend) {
  // create: what the library exports; null: refused
  const std::tuple<const char*, CreateShellBackendFunction, bool> kCases[] = {
      {"trusted", MakeRefusingShell, true},
      {"refused or missing", nullptr, false},
      {"no backend", MakeNothing, false}};
  root_.Set("WARDEX_SHELL", "/shells/shell.so");
  for (const auto& [name, create, installed] : kCases) {
    SCOPED_TRACE(name);
    std::string asked;
    const ShellLibraryLoader load = [&](const std::string& path, const char* name) {
      asked = path + " " + name;
      return reinterpret_cast<ProcAddress>(create);
    };
    MessageLoop loop;
    EXPECT_EQ(InstallShellBackendFromEnvironment(loop, load), installed);
    EXPECT_EQ(asked, "/shells/shell.so CreateShellBackend");
    NOTIFYICONDATAW data = IconData(nullptr, 130, NIF_MESSAGE);
    EXPECT_EQ(Shell_NotifyIcon(NIM_ADD, &data), !installed);  // else headless
  }
  EXPECT_EQ(CountLines(log_path_, "SHELL: backend from /shells/shell.so"), 1u);
  EXPECT_EQ(CountLines(log_path_, "SHELL: no backend from /shells/shell.so"), 2u);
}

}  // namespace
}  // namespace wardex::platform
