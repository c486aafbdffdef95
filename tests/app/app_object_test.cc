// The application object's command-line rule and the message dialog's wait
// (its answers are the agent's pipe and Console tests').
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "app/brisko_tray_app.h"
#include "app/message_dialog_wait.h"
#include "osal/wide_format.h"
#include "support/test_env.h"

namespace wardex {
namespace {

TEST(StartModeTest, OnlyTheWholeCommandLineIsASwitch) {
  const std::pair<const char16_t*, StartMode> kCases[] = {
      {u"", StartMode::kNormal},
      {u"/REGISTER", StartMode::kRegister},
      {u"-Unregister", StartMode::kUnregister},
      {u"-snapcheck", StartMode::kSnapCheck},
      {u"-register ", StartMode::kNormal},
      {u" -register", StartMode::kNormal},
      {u"register", StartMode::kNormal},
      {u"--register", StartMode::kNormal},
      {u"-snapcheckx", StartMode::kNormal},
  };
  for (const auto& [command_line, mode] : kCases) {
    EXPECT_EQ(ParseStartMode(command_line), mode) << KaOSAL::ToUtf8(command_line);
  }
}

TEST(MessageDialogWaitTest, CallsWithoutContextOrListChangeNothing) {
  MessageDialogWait wait;
  const std::vector<MessageDialogCheckBox> boxes;
  MessageDialogWait::callback()(0, 1, &boxes, nullptr);
  MessageDialogWait::callback()(0, 1, nullptr, wait.context());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(wait.Wait(120, 50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
  EXPECT_TRUE(wait.buttons().empty());
}

// Giving up when the agent closes is seen by the load test: its dialogs that
// nobody answers come back without a button once the agent is told to end.
TEST(MessageDialogWaitTest, LateAnswersNeverReachAnEndedWait) {
  // Answers race with waits that end: an answer for an ended wait must find
  // nothing (run under the sanitizers, a dangling context would show).
  const int rounds = test::Scaled(2000, 300);
  std::atomic<bool> done{false};
  std::vector<void*> contexts;
  contexts.reserve(static_cast<size_t>(rounds));
  std::atomic<size_t> published{0};
  std::thread console([&] {
    const std::vector<MessageDialogCheckBox> boxes = {{u"x", 1, 1}};
    while (!done.load()) {
      const size_t count = published.load();
      for (size_t i = 0; i < count; ++i) {
        MessageDialogWait::callback()(0, 1, &boxes, contexts[i]);
      }
    }
  });
  for (int i = 0; i < rounds; ++i) {
    auto wait = std::make_unique<MessageDialogWait>();
    contexts.push_back(wait->context());
    published.store(contexts.size());
    static_cast<void>(wait->Wait(1, 1));
  }
  // A new wait is not answered by the old tokens that keep arriving.
  MessageDialogWait fresh;
  EXPECT_FALSE(fresh.Wait(20, 5));
  done.store(true);
  console.join();
}

}  // namespace
}  // namespace wardex
