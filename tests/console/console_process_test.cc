// The real wardex-console, started by the module's side on a private X
// display: keys answer its dialogs as a user's would, and it ends by itself
// once no window has been open for its idle time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "console_channel.h"
#include "dialog_answer.h"
#include "support/test_env.h"
#include "support/virtual_display.h"

namespace wardex::console {
namespace {

using namespace std::chrono_literals;

class ConsoleProcessTest : public ::testing::Test {
 protected:
  ConsoleProcessTest() { setenv("WARDEX_CONSOLE_IDLE_SECONDS", "1", 1); }
  ~ConsoleProcessTest() override { unsetenv("WARDEX_CONSOLE_IDLE_SECONDS"); }

  test::ScopedTestRoot root_;
  std::deque<Answer> answers_;  // outlive the channel, which may still answer them
  ConsoleChannel channel_{{WARDEX_CONSOLE_PATH}, nullptr};
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

}  // namespace
}  // namespace wardex::console
