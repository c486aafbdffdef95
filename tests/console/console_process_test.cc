// The real wardex-console, started by the module's side on a private X
// display: keys answer its dialogs as a user's would, it ends by itself once
// no window has been open for its idle time, and its notifications reach a
// daemon on a private session bus.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console_channel.h"
#include "dialog_answer.h"
#include "notification_server.h"
#include "support/session_bus.h"
#include "support/test_env.h"
#include "support/virtual_display.h"

namespace wardex::console {
namespace {

using namespace std::chrono_literals;

class ConsoleProcessTest : public ::testing::Test {
 protected:
  ConsoleProcessTest() { setenv("WARDEX_CONSOLE_IDLE_SECONDS", "1", 1); }
  ~ConsoleProcessTest() override { unsetenv("WARDEX_CONSOLE_IDLE_SECONDS"); }

  // The notification ids whose button the Console reported.
  std::vector<uint32_t> Actions() {
    std::lock_guard<std::mutex> hold(lock_);
    return actions_;
  }

  test::ScopedTestRoot root_;
  std::mutex lock_;
  std::vector<uint32_t> actions_;
  std::deque<Answer> answers_;  // outlive the channel, which may still answer them
  ConsoleChannel channel_{{WARDEX_CONSOLE_PATH}, [this](const ConsoleMessage& event) {
                            std::lock_guard<std::mutex> hold(lock_);
                            if (const auto* action = std::get_if<NotificationAction>(&event))
                              actions_.push_back(action->id);
                          }};
};

TEST_F(ConsoleProcessTest, KeysAnswerTheDialogAndTheConsoleEndsWhenIdle) {
  const struct {
    const char* key;
    int32_t button;
  } cases[] = {
      {"Return", 100},  // the first button is the default
      {"Escape", kMessageDialogNoButton},
      {"Tab space", 101},  // the next button, pressed
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string title = "Keyboard " + std::to_string(++n);
    Answer& answer = answers_.emplace_back();
    channel_.ShowDialog(Dialog(title, &answer));
    ASSERT_TRUE(test::VirtualDisplay::TypeInto(title, c.key)) << c.key;
    ASSERT_TRUE(answer.WaitFor(30s)) << c.key;
    EXPECT_EQ(answer.button, c.button) << c.key;
    EXPECT_EQ(answer.checked, Boxes(2, 0)) << c.key;
  }
  // With no window left the Console ends after its idle second.
  for (int i = 0; i < 300 && channel_.connected(); ++i) std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(channel_.connected());
  EXPECT_EQ(channel_.starts(), 1);
}

TEST_F(ConsoleProcessTest, NotificationsReachTheDaemonAndTheirButtonRunsItsCommand) {
  test::PrivateSessionBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  bus.ExportToEnvironment();
  NotificationServer server;
  ASSERT_TRUE(server.ok());
  const std::string ran = root_.path() + "/ran";
  ASSERT_TRUE(channel_.Send(ShowNotificationMessage{40, "Note", "Plain", 5, "", ""}));
  ASSERT_TRUE(channel_.Send(
      ShowNotificationMessage{41, "Update", "Ready <b>now</b>", 30, "Open", "touch " + ran}));
  const std::vector<ReceivedNotification> received = server.WaitFor(2);
  ASSERT_EQ(received.size(), 2u);
  const struct {
    const char* summary;
    const char* body;
    std::vector<std::string> actions;
    int32_t expire_timeout;
  } expected[] = {
      {"Note", "Plain", {}, 5000},
      // This daemon does not read markup: the text goes as it is.
      {"Update", "Ready <b>now</b>", {"default", "Open", "run", "Open"}, 30000},
  };
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(received[i].app_name, "Wardex");
    EXPECT_EQ(received[i].summary, expected[i].summary);
    EXPECT_EQ(received[i].body, expected[i].body);
    EXPECT_EQ(received[i].actions, expected[i].actions);
    EXPECT_EQ(received[i].expire_timeout, expected[i].expire_timeout);
  }
  server.Invoke(received[1].id, "run");
  for (int i = 0; i < 300 && (Actions().empty() || access(ran.c_str(), F_OK) != 0); ++i)
    std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Actions(), std::vector<uint32_t>{41});
  EXPECT_EQ(access(ran.c_str(), F_OK), 0);
}

TEST_F(ConsoleProcessTest, ANewsItemCountsAsShownOnlyWhenTheDaemonTookIt) {
  const ShowNewsMessage news{
      50, "News", "Body", "/usr/share/pixmaps/news.png", "https://127.0.0.1/item", ""};
  // This Console has no session bus.
  EXPECT_FALSE(channel_.ShowNews(news, 30s));

  test::PrivateSessionBus bus;
  ASSERT_TRUE(bus.ok()) << bus.error();
  bus.ExportToEnvironment();
  NotificationServer server;
  ASSERT_TRUE(server.ok());
  ConsoleChannel with_bus({WARDEX_CONSOLE_PATH}, nullptr);
  bool shown = false;
  std::thread news_thread([&] { shown = with_bus.ShowNews(news, 30s); });
  const std::vector<ReceivedNotification> received = server.WaitFor(1);
  news_thread.join();
  EXPECT_TRUE(shown);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].summary, "News");
  EXPECT_EQ(received[0].image_path, "/usr/share/pixmaps/news.png");
  // A link without a button title gets "Open".
  EXPECT_EQ(received[0].actions, (std::vector<std::string>{"default", "Open", "run", "Open"}));
}

}  // namespace
}  // namespace wardex::console
