// Runs the wardex-ipc tool as people do and checks what it prints.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

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

TEST(WardexIpcDecodeTest, PrintsRecordAndReplyOfAnArgument) {
  const Result r =
      RunTool(kTool + R"( decode '{"ModuleRequest":10,"ModuleIdentificator":"W",)"
                      R"("MessageHeader":"H","Message":"M","BtnTitle":"Go","BtnCmdLine":"x"}')");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("  kind: 10\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  button title: \"Go\"\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("reply:\n  [{\"ModuleIdentificator\":\"W\",\"ModuleRequest\":10}]\n"),
            std::string::npos)
      << r.output;
}

TEST(WardexIpcDecodeTest, ReadsStandardInputWithTheAgentsLeniencies) {
  const Result r = RunTool("printf \"{'ModuleRequest':\\t6,\\n'ModuleIdentificator':'A'}\\n\" | " +
                           kTool + " decode");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("[{\"ModuleIdentificator\":\"A\",\"ModuleRequest\":6}]"),
            std::string::npos)
      << r.output;
}

TEST(WardexIpcDecodeTest, ParseErrorPrintsTextLineAndColumn) {
  struct Case {
    const char* input;
    const char* expected;
  };
  for (const Case& c : {Case{"'{\"ModuleRequest\":1,\n  \"Check\":1e5}'",
                             "wardex-ipc: line 2, column 14: Invalid end of string.\n"},
                        Case{"''", "wardex-ipc: line 1, column 1: Empty string.\n"}}) {
    const Result r = RunTool(kTool + " decode " + c.input);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.output, c.expected);
  }
}

TEST(WardexIpcDecodeTest, WrongUsageExitsWithTwo) {
  EXPECT_EQ(RunTool(kTool).exit_code, 2);
  EXPECT_EQ(RunTool(kTool + " encode").exit_code, 2);
  EXPECT_EQ(RunTool(kTool + " decode a b").exit_code, 2);
  const Result help = RunTool(kTool + " --help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("wardex-ipc decode [MESSAGE]"), std::string::npos);
}

}  // namespace
