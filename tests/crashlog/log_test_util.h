// Helpers of the crash-and-log tests: reading log lines and crash reports,
// running a subject in a forked child.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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

inline std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
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

// Every crash report of process |pid| in |folder|, concatenated.
inline std::string ReadReports(const std::string& folder, pid_t pid) {
  std::string all;
  const std::regex name("crash-\\d{8}-\\d{6}-" + std::to_string(pid) + "\\.txt");
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (std::regex_match(entry.path().filename().string(), name)) all += ReadFile(entry.path());
  }
  return all;
}

// Sets |name|, or unsets it for nullptr.
inline void SetOrUnsetEnv(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

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

}  // namespace wardex::test
