// The agent's side of the pipe: IpcLoader's failure on an incomplete library
// (wardex-ipc's tests run it over the signed library), and the message
// callback's reply rules and its gate.
#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "modules/ipc_loader.h"
#include "modules/module_test_env.h"
#include "modules/pipe_callback.h"

namespace wardex {
namespace {

using test::LoggedLine;
using test::Wide;

// Answers every message as a module whose task reports level 100 would;
// kind 98 waits until released.
class RecordingHandler : public PipeMessageHandler {
 public:
  void HandlePipeMessage(ModuleMessage& message) override {
    handled.push_back(message.kind);
    if (message.kind == 6) message.result_level = 100.0;
    if (message.kind == 98) {
      entered = true;
      while (!release) std::this_thread::yield();
    }
    if (message.kind == 99) throw std::runtime_error("module failed");
  }
  std::vector<int32_t> handled;
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
};

class PipeCallbackTest : public ::testing::Test {
 protected:
  // The reply size the callback leaves, and the text within it.
  std::pair<uint32_t, std::u16string> Call(const std::string& message, uint32_t capacity) {
    std::vector<char16_t> reply(capacity / 2 + 2, u'#');
    uint32_t size = capacity;
    PipeMessageCallback(message.data(), static_cast<uint32_t>(message.size()), reply.data(), &size,
                        dispatch_.context());
    return {size, std::u16string(reply.data(), std::min<size_t>(size / 2, reply.size()))};
  }

  RecordingHandler handler_;
  PipeDispatch dispatch_{handler_};
};

constexpr char kKind6[] = R"({"ModuleIdentificator":"A","ModuleRequest":6})";
constexpr char16_t kKind6Reply[] =
    u"[{\"ModuleIdentificator\":\"A\",\"ModuleRequest\":6,\"ResultLevel\":100.000000}]";
constexpr uint32_t kKind6ReplyBytes = sizeof(kKind6Reply);  // with the terminator

// The last row's UTF-8 message ends at its embedded zero.
TEST_F(PipeCallbackTest, ReplyIsWrittenOnlyWhenItFitsWithItsTerminator) {
  const std::string utf8 = std::string(R"({"ModuleIdentificator":"A","ModuleRequest":6,)") +
                           R"("Message":"Grüße"})" + std::string(1, '\0') + "garbage";
  const std::tuple<std::string, uint32_t, uint32_t> cases[] = {
      {kKind6, 4096, kKind6ReplyBytes},
      {kKind6, kKind6ReplyBytes, kKind6ReplyBytes},
      {kKind6, kKind6ReplyBytes - 1, 0},
      {kKind6, kKind6ReplyBytes - 2, 0},  // the text without its terminator
      {kKind6, 0, 0},
      {utf8, 4096, kKind6ReplyBytes},
  };
  for (const auto& [message, capacity, reply_size] : cases) {
    const std::u16string reply(kKind6Reply, reply_size / 2);
    EXPECT_EQ(Call(message, capacity), std::pair(reply_size, reply)) << capacity;
  }
  EXPECT_EQ(handler_.handled, std::vector<int32_t>(6, 6));
  EXPECT_EQ(dispatch_.gate().inside(), 0);
}

TEST_F(PipeCallbackTest, ClosingWaitsForTheCallbackInsideAndRefusesLaterOnesUnanswered) {
  EXPECT_EQ(Call("", 4096).first, 4096u);
  EXPECT_THROW(Call(R"({"ModuleRequest":99})", 4096), std::runtime_error);
  EXPECT_EQ(dispatch_.gate().inside(), 0) << "a throwing handler left the gate";
  std::thread inside([&] { Call(R"({"ModuleRequest":98})", 4096); });
  while (!handler_.entered) std::this_thread::yield();
  std::atomic<bool> closed{false};
  std::thread closer([&] {
    dispatch_.gate().Close();
    closed = true;
  });
  while (!dispatch_.gate().closed()) std::this_thread::yield();
  EXPECT_EQ(Call(kKind6, 4096).first, 4096u) << "refused without a reply";
  EXPECT_FALSE(closed) << "the close waits for the callback inside";
  handler_.release = true;
  inside.join();
  closer.join();
  EXPECT_TRUE(closed);
  EXPECT_EQ(handler_.handled, (std::vector<int32_t>{99, 98}));
}

// A missing library is the agent start test's (the agent logs it and runs on).
TEST(IpcLoaderTest, IncompleteLibraryIsLoggedAndCreatesNothing) {
  test::ModuleTestEnv env(/*with_runtime_dir=*/true);
  // A trusted library without the IPC entry points.
  const std::string module = env.Copy(
      test::kTestModule, "modules/common/" + test::Narrow(platform::LibraryFileName(u"kvl_ipc32")));
  IpcLoader loader(Wide(module));
  const std::vector<LoggedLine> lines = env.LogLines();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), LoggedLine{3, "IPCLoader: Error in DLL-interface!"}),
      lines.end());
  EXPECT_EQ(loader.CreateServer(), nullptr);
  EXPECT_EQ(loader.CreateClient(), nullptr);
}

}  // namespace
}  // namespace wardex
