// The module's side of the Console against fake-console: every dialog is
// answered exactly once, with the pressed button and the check boxes as the
// user left them, or with "no button" and the boxes as given when the Console
// crashes, hangs, talks nonsense, lets the show time pass or is closed first;
// and no caller waits for any of that.
#include "console_channel.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "dialog_answer.h"
#include "support/test_env.h"

namespace wardex::console {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ConsoleChannelTest : public ::testing::Test {
 protected:
  std::unique_ptr<ConsoleChannel> Open(ConsoleChannel::Options options = {}) {
    if (options.program.empty()) options.program = FAKE_CONSOLE_PATH;
    return std::make_unique<ConsoleChannel>(std::move(options), nullptr);
  }

  // Answers outlive every channel of a test, which may still answer them as it goes.
  Answer& NewAnswer() { return answers_.emplace_back(); }

  test::ScopedTestRoot root_;
  std::deque<Answer> answers_;
};

TEST_F(ConsoleChannelTest, AnswersWithTheButtonAndCheckBoxesTheConsoleReportsAndCutsLongTexts) {
  const struct {
    const char* behaviour;
    int buttons;
    int check_boxes;
    bool megabyte;  // a message of a megabyte, which goes cut to the limit
    int32_t button;
    std::vector<uint8_t> checked;
  } cases[] = {
      {"press:1", 2, 2, false, 101, Boxes(2, 2)},
      {"press:0", 1, 0, true, 100, {}},
      // Only the first 16 buttons and check boxes are shown; the rest keep their state.
      {"press:last", 1000, 20, false, 115, Boxes(20, 16)},
      {"bogus-button", 2, 2, false, kMessageDialogNoButton, Boxes(2, 0)},
  };
  const std::u16string megabyte(1 << 20, u'\u00e9');  // two UTF-8 bytes each
  root_.Set("FAKE_CONSOLE_RECORD", root_.path() + "/record");
  auto channel = Open();
  for (const auto& c : cases) {
    Answer& answer = NewAnswer();
    MessageDialog dialog = Dialog(c.behaviour, &answer, c.buttons, c.check_boxes);
    if (c.megabyte) dialog.message = megabyte.c_str();
    channel->ShowDialog(std::move(dialog));
    ASSERT_TRUE(answer.WaitFor(30s)) << c.behaviour;
    EXPECT_EQ(answer.Received(), std::tuple(1, c.button, c.checked)) << c.behaviour;
  }
  EXPECT_EQ(channel->starts(), 1);
  EXPECT_EQ(test::ReadLines(root_.path() + "/record").at(1),
            "dialog press:0 " + std::to_string(kMaxTextBytes) + " 1 0");
}

TEST_F(ConsoleChannelTest, AConsoleThatFailsAnswersItsDialogsWithNoButtonAndIsStartedAgain) {
  ConsoleChannel::Options options;
  options.ping_interval = 50ms;
  options.ping_timeout = 500ms;
  auto channel = Open(options);
  int failed = 0;
  for (const char* failure : {"crash", "hang", "garbage"}) {
    Answer& open = NewAnswer();  // left open by the Console when the failure comes
    Answer& failing = NewAnswer();
    channel->ShowDialog(Dialog("ignore", &open));
    channel->ShowDialog(Dialog(failure, &failing));
    ASSERT_TRUE(failing.WaitFor(30s)) << failure;
    ASSERT_TRUE(open.WaitFor(30s)) << failure;
    for (Answer* answer : {&open, &failing})
      EXPECT_EQ(answer->Received(), std::tuple(1, kMessageDialogNoButton, Boxes(2, 0))) << failure;

    // The next dialog starts a new Console, which the next failure's dialogs reach.
    Answer& next = NewAnswer();
    channel->ShowDialog(Dialog("press:0", &next));
    ASSERT_TRUE(next.WaitFor(30s)) << failure;
    EXPECT_EQ(next.button, 100) << failure;
    EXPECT_EQ(channel->starts(), 2 + failed++) << failure;
  }
}

TEST_F(ConsoleChannelTest, ADialogThatOutlivesItsShowTimeIsAnsweredHereWithNoButton) {
  ConsoleChannel::Options options;
  options.dialog_grace = 100ms;
  auto channel = Open(options);
  Answer& answer = NewAnswer();
  const auto start = Clock::now();
  channel->ShowDialog(Dialog("ignore", &answer, 2, 2, 300));
  ASSERT_TRUE(answer.WaitFor(30s));
  EXPECT_GE(Clock::now() - start, 400ms);
  EXPECT_EQ(answer.Received(), std::tuple(1, kMessageDialogNoButton, Boxes(2, 0)));
}

TEST_F(ConsoleChannelTest, ClosingAnswersOpenDialogsOnceAndIgnoresTheirLateAnswers) {
  Answer& late = NewAnswer();
  Answer& open = NewAnswer();
  {
    auto channel = Open();
    channel->ShowDialog(Dialog("ignore", &open));
    channel->ShowDialog(Dialog("late:300", &late));
    // Closing before the Console answers.
  }
  EXPECT_EQ(open.Calls(), 1);
  EXPECT_EQ(late.Received(), std::tuple(1, kMessageDialogNoButton, Boxes(2, 0)));
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(late.Calls(), 1);
}

TEST_F(ConsoleChannelTest, DialogsFromManyThreadsAreEachAnsweredWithTheirOwnButton) {
  const int threads = test::Scaled(8, 4);
  const int per_thread = test::Scaled(10, 3);
  auto channel = Open();
  std::vector<Answer*> answers;
  for (int n = 0; n < threads * per_thread; ++n) answers.push_back(&NewAnswer());
  std::vector<std::thread> callers;
  for (int t = 0; t < threads; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < per_thread; ++i) {
        const int n = t * per_thread + i;
        // Dialog n presses its button n % 3 of three.
        channel->ShowDialog(
            Dialog("press:" + std::to_string(n % 3), answers[static_cast<size_t>(n)], 3));
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  for (size_t n = 0; n < answers.size(); ++n) {
    ASSERT_TRUE(answers[n]->WaitFor(60s)) << n;
    EXPECT_EQ(answers[n]->Received(), std::tuple(1, 100 + static_cast<int32_t>(n % 3), Boxes(2, 2)))
        << n;
  }
}

TEST_F(ConsoleChannelTest, CallersDoNotWaitForAHungConsole) {
  ConsoleChannel::Options options;
  options.max_queued_bytes = 256 * 1024;
  Answer& hung = NewAnswer();
  std::vector<Answer*> answers;
  auto channel = Open(options);
  channel->ShowDialog(Dialog("hang", &hung));
  // Large dialogs fill the socket and then the queue; once it is full they
  // are answered at once instead of waiting.
  const std::u16string text(kMaxTextBytes, u'x');
  const auto start = Clock::now();
  for (int i = 0; i < 100; ++i) {
    answers.push_back(&NewAnswer());
    MessageDialog dialog = Dialog("ignore", answers.back());
    dialog.message = text.c_str();
    channel->ShowDialog(std::move(dialog));
  }
  EXPECT_LT(Clock::now() - start, 10s);
  EXPECT_EQ(answers.back()->Received(), std::tuple(1, kMessageDialogNoButton, Boxes(2, 0)));
}

TEST_F(ConsoleChannelTest, AMissingProgramAnswersAtOnceWithNoButton) {
  ConsoleChannel::Options options;
  options.program = root_.path() + "/no-such-console";
  auto channel = Open(options);
  Answer& answer = NewAnswer();
  channel->ShowDialog(Dialog("press:0", &answer));
  ASSERT_TRUE(answer.WaitFor(30s));
  EXPECT_EQ(answer.button, kMessageDialogNoButton);
  EXPECT_EQ(channel->starts(), 0);
}

}  // namespace
}  // namespace wardex::console
