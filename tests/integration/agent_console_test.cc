// The real agent with the real Console on a private X display: a user's
// steps (user_steps.h), among them a message dialog sent through the pipe
// that opens as a window and is answered by the user's keys, the pipe reply
// holding the pressed button and the check boxes as left.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>

#include "desktop/desktop_peers.h"
#include "integration/agent_harness.h"
#include "integration/user_steps.h"
#include "support/session_bus.h"
#include "support/virtual_display.h"

namespace wardex::test {
namespace {

class AgentConsoleTest : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(display_.ok()) << display_.error();
    display_.ExportForGtk();
    NewTree();
    tree_->AddFrameModules();
    tree_->AddDesktopConsole();
    // The Console ends a second after its last window.
    env_.Set("WARDEX_CONSOLE_IDLE_SECONDS", "1");
  }

  VirtualDisplay display_;
  ScopedEnvironment env_;
};

TEST_F(AgentConsoleTest, TheUsersStepsFromTheIconToTheMenusClose) {
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);
  EXPECT_EQ(tree_->Send(kPing), kPingReply);
  EXPECT_EQ(tree_->Send(kNotification), kNotificationReply);
  std::string reply;
  std::thread sender([&] { reply = tree_->Send(kDialog, 60000); });
  const bool typed = VirtualDisplay::TypeInto("Update", "Tab Return");
  sender.join();
  ASSERT_TRUE(typed) << tree_->Diagnostics();
  EXPECT_EQ(reply, kDialogAnswer) << tree_->Diagnostics();
  // The Console ends a second after that window; the next one gets the
  // agent's texts as the first did: its window is titled with the product
  // name.
  ASSERT_TRUE(tree_->WaitForLog("CONSOLE: the Console (pid", std::chrono::seconds(30)))
      << tree_->Diagnostics();
  ASSERT_TRUE(tree_->ChooseFromMenu("0x8016")) << tree_->Diagnostics();
  EXPECT_TRUE(VirtualDisplay::WaitForWindow("Brisko & Co - Information")) << tree_->Diagnostics();

  // A second start ends at once; with -snapcheck it asks the running agent
  // to show the quick-check view.
  EXPECT_EQ(tree_->Run(), 0);
  EXPECT_EQ(tree_->Run({"-snapcheck"}), 0);
  ASSERT_TRUE(tree_->WaitForLog("Wardex.exe ## ShowSnapCheck", std::chrono::seconds(10)));
  ASSERT_TRUE(tree_->ShellCommand("taskbar-created"));
  ASSERT_TRUE(tree_->WaitForShellLog("NIM_ADD ok=1 id=130", 2));  // the icon again
  ASSERT_TRUE(tree_->ChooseFromMenu("0x8012"));
  EXPECT_EQ(agent->Wait(std::chrono::seconds(15)), 0) << tree_->Diagnostics();
  EXPECT_TRUE(ContainsInOrder(tree_->LogTexts(), kUserStepsLog)) << tree_->Diagnostics();
}

// Kinds 7 and 10 through the pipe become desktop notifications that the
// agent owns: the Console ends once its last window closed, and the button
// of a notification still works afterwards, as in GNOME's message list.
TEST_F(AgentConsoleTest, NotificationsAreTheAgentsAndTheirButtonOutlivesTheConsole) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  bus.ExportToEnvironment();
  setenv("WARDEX_SHELL", "desktop", 1);
  TestNotificationServer server(bus.address(), {"actions", "body"});
  ASSERT_TRUE(server.ok());
  auto agent = tree_->StartAndWait();
  ASSERT_TRUE(agent);
  const std::string ran = tree_->test_dir() + "/ran";
  tree_->Send(R"({"ModuleRequest":7,"MessageHeader":"Scan","Message":"3 <i>items</i> cleaned"})");
  tree_->Send(R"({"ModuleRequest":10,"MessageHeader":"Update","Message":"Ready",)"
              R"("BtnTitle":"Details","BtnCmdLine":"/usr/bin/touch )" +
              ran + R"("})");
  ASSERT_TRUE(PumpUntil({&server}, [&] { return server.notifications.size() == 2; }))
      << tree_->Diagnostics();
  // The fields as the desktop tests check them; here the Console's own: its
  // seconds in milliseconds, its text without markup on a server that reads
  // none, and its button.
  EXPECT_EQ(std::tie(server.notifications[0].body, server.notifications[0].expire_timeout,
                     server.notifications[1].actions),
            std::make_tuple("3 <i>items</i> cleaned", 5000,
                            std::vector<std::string>{"default", "Details", "run", "Details"}));

  // A window opens the Console; once it is answered the Console ends...
  std::thread sender([&] {
    tree_->Send(R"({"ModuleRequest":11,"MessageHeader":"Restart","Message":"Now?",)"
                R"("Buttons":[{"BTTX":"Yes","BTID":7,"BTTY":1}]})",
                60000);
  });
  const bool typed = VirtualDisplay::TypeInto("Restart", "Return");
  sender.join();
  ASSERT_TRUE(typed) << tree_->Diagnostics();
  EXPECT_TRUE(tree_->WaitForLog("CONSOLE: the Console (pid", std::chrono::seconds(30)))
      << tree_->Diagnostics();
  // ...and the notification's button still runs its command.
  server.InvokeAction(server.notifications[1].id, "run");
  EXPECT_TRUE(PumpUntil({&server}, [&] { return access(ran.c_str(), F_OK) == 0; }))
      << tree_->Diagnostics();
}

}  // namespace
}  // namespace wardex::test
