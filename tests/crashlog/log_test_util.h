// Helpers of the crash-and-log tests: reading log lines and crash reports,
// running a subject in a forked child (Linux).
#pragma once

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace wardex::test {

struct LogLine {
  std::string time;  // "2026-12-05 14:09:10.123"
  int level = 0;
  int thread = 0;
  std::string text;
};

// Splits a line of the documented layout; nullopt when it does not match.
inline std::optional<LogLine> ParseLogLine(const std::string& line) {
  static const std::regex kLayout(
      R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \[(-?\d+)\] (\d+) (.*)$)");
  std::smatch match;
  if (!std::regex_match(line, match, kLayout)) return std::nullopt;
  return LogLine{match[1], std::stoi(match[2]), std::stoi(match[3]), match[4]};
}

// The texts of the lines at |level| of the log |path|, in order.
inline std::vector<std::string> LoggedAt(const std::string& path, int level) {
  std::vector<std::string> texts;
  for (const std::string& line : ReadLines(path)) {
    const auto parsed = ParseLogLine(line);
    if (parsed && parsed->level == level) texts.push_back(parsed->text);
  }
  return texts;
}

// Every crash report of process |pid| in |folder| (or its minidumps, with
// |extension| ".dmp"), concatenated.
inline std::string ReadReports(const std::string& folder, int64_t pid,
                               const std::string& extension = ".txt") {
  std::string all;
  const std::regex name("crash-\\d{8}-\\d{6}-" + std::to_string(pid) + "\\" + extension);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (std::regex_match(entry.path().filename().string(), name))
      all += ReadFile(entry.path().string());
  }
  return all;
}

// Sets |name|, or unsets it for nullptr.
inline void SetOrUnsetEnv(const char* name, const char* value) {
  if (value != nullptr) {
    SetEnv(name, value);
  } else {
    UnsetEnv(name);
  }
}

// Each test logs to a file of its own in its own root.
class LogWTest : public ::testing::Test {
 protected:
  // The test root keeps the journal out (WARDEX_LOG_JOURNAL=0).
  void SetUp() override {
    log_path_ = root_.path() + "/own/test.log";
    root_.Set("WARDEX_LOG_FILE", log_path_);
    root_.Unset("WARDEX_LOG_LEVEL");
  }

  std::vector<LogLine> ParsedLines() {
    std::vector<LogLine> parsed;
    for (const std::string& line : ReadLines(log_path_)) {
      std::optional<LogLine> one = ParseLogLine(line);
      EXPECT_TRUE(one) << "not in the log layout: " << line;
      if (one) parsed.push_back(*one);
    }
    return parsed;
  }

  ScopedTestRoot root_;
  std::string log_path_;
};

#if !defined(_WIN32)
struct ChildResult {
  pid_t pid = -1;
  int status = 0;  // as waitpid gives it
  bool DiedOf(int signal_number) const {
    return WIFSIGNALED(status) && WTERMSIG(status) == signal_number;
  }
  bool ExitedWith(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

// Runs |body| in a forked child without core dumps; the child exits 0 when
// |body| returns.
inline ChildResult RunInChild(const std::function<void()>& body) {
  ChildResult result;
  result.pid = fork();
  if (result.pid == 0) {
    rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    body();
    _exit(0);
  }
  waitpid(result.pid, &result.status, 0);
  return result;
}
#endif

}  // namespace wardex::test
