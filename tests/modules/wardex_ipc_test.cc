// Runs the wardex-ipc tool as people do and checks what it prints.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Result {
  int exit_code;
  std::string output;  // standard output and standard error
};

// Runs a shell command line and collects its output.
Result RunTool(const std::string& command) {
  Result result{-1, ""};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

const std::string kTool = WARDEX_IPC_PATH;

// Each command line's exit code and texts that its output holds (or, with
// |exact|, is).
TEST(WardexIpcDecodeTest, ExitCodesAndMessages) {
  struct Case {
    std::string command;
    int exit_code;
    std::vector<std::string> expected;
    bool exact = false;
  };
  const Case cases[] = {
      {kTool + R"( decode '{"ModuleRequest":10,"ModuleIdentificator":"W",)"
               R"("MessageHeader":"H","Message":"M","BtnTitle":"Go","BtnCmdLine":"x"}')",
       0,
       {"  kind: 10\n", "  button title: \"Go\"\n",
        "reply:\n  [{\"ModuleIdentificator\":\"W\",\"ModuleRequest\":10}]\n"}},
      // Standard input, with the agent's leniencies.
      {"printf \"{'ModuleRequest':\\t6,\\n'ModuleIdentificator':'A'}\\n\" | " + kTool + " decode",
       0,
       {"[{\"ModuleIdentificator\":\"A\",\"ModuleRequest\":6}]"}},
      // The agent reads a message up to an embedded zero byte.
      {"printf '{\"ModuleRequest\":5}\\000{broken' | " + kTool + " decode",
       0,
       {"[{\"ModuleIdentificator\":\"\",\"ModuleRequest\":5}]"}},
      {kTool + " decode '{\"ModuleRequest\":1,\n  \"Check\":1e5}'",
       1,
       {"wardex-ipc: line 2, column 14: Invalid end of string.\n"},
       true},
      {kTool + " decode ''", 1, {"wardex-ipc: line 1, column 1: Empty string.\n"}, true},
      {kTool, 2, {"missing subcommand"}},
      {kTool + " encode", 2, {"unknown subcommand 'encode'"}},
      {kTool + " decode a b", 2, {"decode takes at most one message"}},
      {kTool + " --help", 0, {"wardex-ipc decode [MESSAGE]"}},
  };
  for (const Case& c : cases) {
    const Result r = RunTool(c.command);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.command << "\n" << r.output;
    if (c.exact) {
      EXPECT_EQ(r.output, c.expected.front()) << c.command;
    }
    for (const std::string& text : c.expected) {
      EXPECT_NE(r.output.find(text), std::string::npos) << c.command << "\n" << r.output;
    }
  }
}

}  // namespace
