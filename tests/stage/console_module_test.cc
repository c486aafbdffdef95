// The staged Console module: what its headless view logs, and how it answers
// message dialogs that nobody can see.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "console/dialog_answer.h"
#include "modules/module_library.h"
#include "stage_test_env.h"
#include "wardex/console_view.h"

namespace wardex::test {
namespace {

using Clock = std::chrono::steady_clock;
using console::Answer;
using console::Boxes;

class ConsoleModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // These tests are of the headless Console, whatever desktop runs them.
    for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(display);
    library_ = LoadModuleLibrary(
        KaOSAL::KaPath(Wide(StagedApp() + "/modules/consolemodule/ConsoleModule.so")));
    ASSERT_NE(library_, nullptr);
    create_ =
        reinterpret_cast<CreateConsoleFn>(platform::GetProcAddress(library_, kCreateConsoleExport));
    destroy_ = reinterpret_cast<DestroyConsoleFn>(
        platform::GetProcAddress(library_, kDestroyConsoleExport));
    ASSERT_NE(create_, nullptr);
    ASSERT_NE(destroy_, nullptr);
    view_ = create_();
    ASSERT_NE(view_, nullptr);
  }
  void TearDown() override {
    if (destroy_ != nullptr) destroy_();
    if (library_ != nullptr) {
      EXPECT_TRUE(platform::FreeLibrary(library_));
    }
  }

  StageTestEnv env_;
  platform::LibraryHandle library_ = nullptr;
  CreateConsoleFn create_ = nullptr;
  DestroyConsoleFn destroy_ = nullptr;
  IConsoleView* view_ = nullptr;
};

TEST_F(ConsoleModuleTest, OneViewPerProcess) { EXPECT_EQ(create_(), view_); }

TEST_F(ConsoleModuleTest, LogsWhatItWouldShow) {
  view_->ShowMessage(u"Text", u"Title", 5, u"", u"");
  view_->ShowMessage(u"Text", u"Title", 30, u"Open", u"/usr/bin/true --x");
  view_->ShowSettings();
  view_->ShowInfo();
  view_->Refresh();
  NewsItem item;
  item.title = u"News";
  item.text = u"Body";
  item.link = u"https://127.0.0.1/x";
  item.button_text = u"Read";
  EXPECT_TRUE(view_->ShowNewsfeed(item));
  EXPECT_EQ(env_.LogTexts("CONSOLE: "),
            (std::vector<std::string>{
                "CONSOLE: no display or session bus; the Console is headless",
                "CONSOLE: message \"Title\": \"Text\" (5 s)",
                "CONSOLE: message \"Title\": \"Text\" (30 s, button \"Open\" runs \"/usr/bin/true "
                "--x\")",
                "CONSOLE: settings page",
                "CONSOLE: info page",
                "CONSOLE: refresh",
                "CONSOLE: news \"News\": \"Body\" (link \"https://127.0.0.1/x\", button \"Read\")",
            }));
}

TEST_F(ConsoleModuleTest, DialogWithoutShowTimeIsAnsweredNoButtonWhenTheConsoleGoes) {
  // 0 and the low half of -1 both mean "no show time".
  Answer never_timed, minus_one, long_timed;
  view_->ShowMessageDialog(console::Dialog("Header", &never_timed, 1, 1, 0));
  view_->ShowMessageDialog(console::Dialog("Header", &minus_one, 1, 1, 0xFFFFFFFFu));
  view_->ShowMessageDialog(console::Dialog("Header", &long_timed, 1, 1, 3600 * 1000));
  EXPECT_FALSE(never_timed.WaitFor(std::chrono::milliseconds(200)));
  EXPECT_FALSE(minus_one.WaitFor(std::chrono::milliseconds(1)));
  const auto start = Clock::now();
  destroy_();
  destroy_ = nullptr;
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  for (Answer* answer : {&never_timed, &minus_one, &long_timed})
    EXPECT_EQ(std::pair(answer->Calls(), answer->button), std::pair(1, kMessageDialogNoButton));
  EXPECT_TRUE(platform::FreeLibrary(library_));
  library_ = nullptr;
}

// Dialogs shown at once from several threads: the call returns at once, and
// each is answered once when its time is over, with no button, since nobody
// pressed one, whatever the buttons are.
TEST_F(ConsoleModuleTest, DialogsNobodyAnsweredComeBackOnceWithNoButtonWhenTheirTimeIsOver) {
  const int count = Scaled(64, 16);
  std::vector<Answer> answers(static_cast<size_t>(count));
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < count; i += 4) {
        view_->ShowMessageDialog(
            console::Dialog("Header", &answers[i], i % 3, 1, static_cast<uint32_t>(2000 + i % 20)));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));  // before the answers
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(answers[i].WaitFor(std::chrono::seconds(10))) << i;
    EXPECT_EQ(std::tuple(answers[i].Calls(), answers[i].button, answers[i].checked),
              std::tuple(1, kMessageDialogNoButton, Boxes(1, 0)));
  }
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace wardex::test
