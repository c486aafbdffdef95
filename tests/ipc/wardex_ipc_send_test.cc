// wardex-ipc, run as scripts run it: send against a server the test starts
// through the same signed IPC library, and decode.
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "modules/ipc_loader.h"
#include "modules/module_test_env.h"

namespace wardex {
namespace {

// Answers "reply to <message>" as the agent's callback answers: nothing to
// an empty message, a reply size of 0 when the reply does not fit ("no-room"
// acts so); "slow" is answered after 1.5 s.
void AnswerCallback(const char* message, uint32_t length, char16_t* reply, uint32_t* reply_size,
                    uintptr_t) {
  if (std::string(message, length) == "slow") {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  }
  if (length == 0) return;
  const std::u16string answer = u"reply to " + KaOSAL::FromUtf8(std::string(message, length));
  const uint32_t bytes = static_cast<uint32_t>((answer.size() + 1) * 2);
  if (*reply_size < bytes || std::string(message, length) == "no-room") {
    *reply_size = 0;
    return;
  }
  std::copy(answer.c_str(), answer.c_str() + answer.size() + 1, reply);  // and its terminator
  *reply_size = bytes;
}

// Pipe names are the user's, not the test root's: each run has a channel of its own.
const std::string kChannel = "tools." + std::to_string(std::random_device()());
const std::string kLibraryFile = test::Narrow(platform::LibraryFileName(u"kvl_ipc32"));

struct ToolRun {
  int exit_code;
  std::string out;
  std::string err;
  auto tied() const { return std::tie(exit_code, out, err); }
};

class WardexIpcSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string library = env_.Copy(WARDEX_TEST_IPC_SO, "modules/common/" + kLibraryFile);
    env_.env().Set("WARDEX_IPC_LIBRARY", library);
    loader_ = std::make_unique<IpcLoader>(test::Wide(library));
    IIpcServer* server = loader_->CreateServer();
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(server->StartListening(test::Wide(kChannel).c_str(), AnswerCallback, 0), kIpcOk);
  }

  // Runs the tool with |arguments| and |input| on its standard input, keeping
  // standard output and error apart.
  ToolRun Tool(const std::vector<std::string>& arguments, const std::string& input = "") {
    const std::string folder = env_.root().path();
    EXPECT_TRUE(test::WriteFile(folder + "/stdin.txt", input));
    test::ChildProgram tool(WARDEX_IPC_PATH, arguments, folder + "/stdout.txt",
                            folder + "/stderr.txt", folder + "/stdin.txt");
    ToolRun run{static_cast<int>(tool.Wait()), test::ReadFile(folder + "/stdout.txt"),
                test::ReadFile(folder + "/stderr.txt")};
    // Windows writes its text streams with CR LF line ends.
    for (std::string* text : {&run.out, &run.err}) std::erase(*text, '\r');
    return run;
  }

  test::ModuleTestEnv env_{/*with_runtime_dir=*/true};
  std::unique_ptr<IpcLoader> loader_;
};

TEST_F(WardexIpcSendTest, PrintsTheReplyAloneOnStandardOutput) {
  EXPECT_EQ(Tool({"send", "--channel", kChannel, "{\"Text\":\"Grüße\"}"}).tied(),
            std::tuple(0, "reply to {\"Text\":\"Grüße\"}\n", ""));
  EXPECT_EQ(Tool({"send", "--channel", kChannel, "--timeout", "2000"}, "Grüße").tied(),
            std::tuple(0, "reply to Grüße\n", ""));
}

TEST_F(WardexIpcSendTest, FailuresExitNonZeroWithAClearMessage) {
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"send", "--channel", "nobody", "x"}, 1, "no agent listens on the channel"},
      {{"send", "--channel", kChannel, "--address", "192.0.2.7", "x"}, 1, "refused"},
      {{"send", "--channel", kChannel, "--timeout", "0", "x"}, 2, "--timeout takes milliseconds"},
      {{"send", "--channel", kChannel, "--bogus", "x"}, 2, "incomplete option '--bogus'"},
      {{"send", "--channel", kChannel, "a", "b"}, 2, "send takes at most one message"},
      {{"send", "--channel", kChannel, "--timeout", "200", "slow"}, 1, "no answer within"},
      // An empty reply is no success, and an empty message no shutdown.
      {{"send", "--channel", kChannel, "no-room"}, 1, "the agent's reply did not fit"},
      {{"send", "--channel", kChannel, ""}, 1, "the agent answers no empty message"},
      {{"send", "--channel", std::string(300, 'c'), "x"}, 1, "the channel name is too long for a"},
      {{}, 2, "missing subcommand"},
      {{"encode"}, 2, "unknown subcommand 'encode'"},
      {{"decode", "a", "b"}, 2, "decode takes at most one message"},
      {{"decode", "{\"ModuleRequest\":1,\n  \"Check\":1e5}"},
       1,
       "wardex-ipc: line 2, column 14: Invalid end of string.\n"},
  };
  for (const auto& [arguments, exit_code, error] : cases) {
    const ToolRun run = Tool(arguments);
    EXPECT_EQ(run.exit_code, exit_code) << error;
    EXPECT_EQ(run.out, "") << error;
    // A message that ends its line is the whole of standard error.
    if (error.back() == '\n') {
      EXPECT_EQ(run.err, error);
    } else {
      EXPECT_NE(run.err.find(error), std::string::npos) << error << ": " << run.err;
    }
  }
}

// What decode prints, from an argument or standard input, as the agent reads it.
TEST_F(WardexIpcSendTest, DecodePrintsTheRecordAndTheReply) {
  const std::tuple<std::vector<std::string>, std::string, std::vector<std::string>> cases[] = {
      {{"decode", R"({"ModuleRequest":10,"ModuleIdentificator":"W",)"
                  R"("MessageHeader":"H","Message":"M","BtnTitle":"Go","BtnCmdLine":"x"})"},
       "",
       {"  kind: 10\n", "  button title: \"Go\"\n",
        "reply:\n  [{\"ModuleIdentificator\":\"W\",\"ModuleRequest\":10}]\n"}},
      // The agent's leniencies.
      {{"decode"},
       "{'ModuleRequest':\t6,\n'ModuleIdentificator':'A'}\n",
       {"[{\"ModuleIdentificator\":\"A\",\"ModuleRequest\":6}]"}},
      {{"--help"}, "", {"wardex-ipc decode [MESSAGE]", "common/" + kLibraryFile + " beside"}},
  };
  for (const auto& [arguments, input, printed] : cases) {
    const ToolRun run = Tool(arguments, input);
    EXPECT_EQ(run.exit_code, 0) << printed[0] << ": " << run.err;
    for (const std::string& text : printed) {
      EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
  }
}

TEST_F(WardexIpcSendTest, AnUntrustedLibraryIsNotUsed) {
  const std::string unsigned_copy = env_.root().path() + "/unsigned/" + kLibraryFile;
  ASSERT_TRUE(test::WriteFile(unsigned_copy, "not a signed library"));
  env_.env().Set("WARDEX_IPC_LIBRARY", unsigned_copy);
  const ToolRun run = Tool({"send", "--channel", kChannel, "x"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("cannot load a trusted IPC library"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace wardex
