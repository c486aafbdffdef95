#if defined(_WIN32)
#include <shlobj.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "crashlog/log_file.h"
#include "log_test_util.h"
#include "support/test_env.h"
#include "wardex/crashlog.h"

namespace wardex::test {
namespace {

time_t RealtimeSeconds() {
  return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
}

TEST_F(LogWTest, WritesExactLinesWithLocalTimeLevelAndThread) {
#if !defined(_WIN32)
  // A zone far from UTC, so that a UTC stamp would be caught.
  setenv("TZ", "XYZ-3", 1);
  tzset();
#endif
  // time() reads the coarse clock, which lags the real-time clock the log
  // stamps with by up to a tick; take both bounds from the log's clock.
  const time_t before = RealtimeSeconds();
  errno = ENOENT;
#if defined(_WIN32)
  SetLastError(ERROR_FILE_EXISTS);
#endif
  LogW(kLogTrace, u"Tray ### %s", u"InitInstance");
  LogW(kLogInfo, u"LOAD DLL DONE: %s (%dms)", u"Console", 42);
  LogW(kLogError, u"code 0x%08X %S %I64d", 0xC0000005u, "narrow", int64_t{-5000000000});
  LogW(kLogNotable, u"Gr\u00fc\u00dfe\r\n");
  LogW(kLogSysFail, u"first\nsecond\r\n");
  LogW(kLogTaskStep, nullptr);
  EXPECT_EQ(errno, ENOENT) << "a log call must leave errno alone";
#if defined(_WIN32)
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS)) << "and the system's last error";
#endif
  const time_t after = RealtimeSeconds();

  const std::vector<std::pair<int, std::string>> expected = {
      {14, "Tray ### InitInstance"},
      {8, "LOAD DLL DONE: Console (42ms)"},
      {3, "code 0xC0000005 narrow -5000000000"},
      {6, "Gr\u00fc\u00dfe"},
      {9, "first second"},
      {12, ""},
  };
  const std::vector<LogLine> lines = ParsedLines();
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].level, expected[i].first) << i;
    EXPECT_EQ(lines[i].text, expected[i].second) << i;
    EXPECT_EQ(lines[i].thread, CurrentThreadId()) << i;
    tm stamp{};
    std::istringstream(lines[i].time) >> std::get_time(&stamp, "%Y-%m-%d %H:%M:%S");
    stamp.tm_isdst = -1;
    const time_t logged = mktime(&stamp);
    EXPECT_GE(logged, before) << lines[i].time;
    EXPECT_LE(logged, after) << lines[i].time;
  }
#if !defined(_WIN32)
  unsetenv("TZ");
  tzset();
#endif
}

// Threads write five files' worth of lines at once: every line stays whole,
// each thread's lines keep their order across the three generations kept,
// and a file is rotated only when the next line would not fit.
TEST_F(LogWTest, ConcurrentLinesStayWholeAndInOrderAcrossThreeGenerations) {
  const std::string folder = root_.path() + "/rotated/";
  SetEnv("WARDEX_LOG_FILE", folder + "wardex.log");
  const int kThreads = 8;
  const std::string payload(950, '#');  // lines of about 1,000 bytes
  const int kLinesEach = 5 * static_cast<int>(crashlog::kLogFileMaxBytes / 1000) / kThreads;
  std::vector<int> thread_ids(kThreads);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      thread_ids[t] = CurrentThreadId();
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kLinesEach; ++i) {
        LogW(kLogInfo, u"writer %d line %04d %S end", t, i, payload.c_str());
      }
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();

  EXPECT_FALSE(std::filesystem::exists(folder + "wardex.log.4"));
  const std::regex kText(R"(writer (\d) line (\d{4}) (#+) end)");
  std::vector<int> next(kThreads, -1);  // -1 before a writer's first line kept
  for (const char* name : {"wardex.log.3", "wardex.log.2", "wardex.log.1", "wardex.log"}) {
    const std::string path = folder + name;
    const std::vector<std::string> lines = ReadLines(path);
    ASSERT_FALSE(lines.empty()) << path;
    const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
    EXPECT_LE(size, crashlog::kLogFileMaxBytes) << path;
    // Lines differ by a few bytes with their thread's id.
    if (std::string(name) != "wardex.log") {
      EXPECT_GT(size + static_cast<int64_t>(lines.back().size()) + 8, crashlog::kLogFileMaxBytes)
          << path << " was rotated before it was full";
    }
    for (const std::string& raw : lines) {
      const std::optional<LogLine> line = ParseLogLine(raw);
      std::smatch match;
      ASSERT_TRUE(line && std::regex_match(line->text, match, kText)) << raw;
      const int writer = std::stoi(match[1]);
      ASSERT_EQ(match[3].length(), static_cast<long>(payload.size())) << raw;
      EXPECT_EQ(line->thread, thread_ids[writer]);
      if (next[writer] >= 0) {
        ASSERT_EQ(std::stoi(match[2]), next[writer]) << path << ": a line lost or out of order";
      }
      next[writer] = std::stoi(match[2]) + 1;
    }
  }
  // A writer's kept lines are its last ones (one that ended early may have
  // none left).
  for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(next[t] == -1 || next[t] == kLinesEach) << t;
}

TEST_F(LogWTest, HighestLevelComesFromTheEnvironment) {
  struct Case {
    const char* setting;  // nullptr: unset
    std::vector<int> written;
  };
  const std::vector<int> kLevels = {3, 6, 8, 9, 12, 14, 15};
  const std::vector<Case> cases = {
      {nullptr, {3, 6, 8, 9, 12, 14, 15}}, {"", {3, 6, 8, 9, 12, 14, 15}}, {"6", {3, 6}}, {"0", {}},
      {"eight", {3, 6, 8, 9, 12, 14, 15}},
  };
  int case_number = 0;
  for (const Case& c : cases) {
    log_path_ = root_.path() + "/levels" + std::to_string(case_number++) + ".log";
    SetEnv("WARDEX_LOG_FILE", log_path_);
    SetOrUnsetEnv("WARDEX_LOG_LEVEL", c.setting);
    for (int level : kLevels) LogW(level, u"level %d", level);
    std::vector<int> written;
    for (const LogLine& line : ParsedLines()) {
      EXPECT_EQ(line.text, "level " + std::to_string(line.level));
      written.push_back(line.level);
    }
    EXPECT_EQ(written, c.written) << "WARDEX_LOG_LEVEL=" << (c.setting ? c.setting : "(unset)");
  }
}

// Without a file of its own the log goes to the user's state folder
// (XDG_STATE_HOME when absolute, else ~/.local/state), on Windows to the
// local application data folder.
TEST_F(LogWTest, DefaultTargetIsTheUsersStateFolder) {
  UnsetEnv("WARDEX_LOG_FILE");
  struct Case {
    const char* state_home;  // nullptr: unset
    std::string file;
  };
#if defined(_WIN32)
  wchar_t* local = nullptr;
  ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local), S_OK);
  const std::vector<Case> cases = {
      {nullptr, (std::filesystem::path(local) / "Wardex" / "log" / "wardex.log").string()}};
  CoTaskMemFree(local);
#else
  const std::string home = root_.path() + "/home";
  SetEnv("HOME", home);
  const std::string state_home = root_.state_home();
  const std::string fallback = home + "/.local/state/wardex/log/wardex.log";
  const std::vector<Case> cases = {{nullptr, fallback},
                                   {"relative/state", fallback},
                                   {"", fallback},
                                   {state_home.c_str(), state_home + "/wardex/log/wardex.log"}};
#endif
  for (const Case& c : cases) {
    SetOrUnsetEnv("XDG_STATE_HOME", c.state_home);
    const std::string text = "default target " + std::to_string(CurrentProcessId()) + " " +
                             std::to_string(&c - cases.data());
    LogW(kLogInfo, u"%S", text.c_str());
    // Other tests of the Wine prefix log there too: find this one's line.
    const std::vector<std::string> logged = LoggedAt(c.file, kLogInfo);
    EXPECT_NE(std::find(logged.begin(), logged.end(), text), logged.end()) << c.file;
#if !defined(_WIN32)
    EXPECT_EQ(std::filesystem::status(c.file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << "the log is private to the user";
#endif
  }
}

}  // namespace
}  // namespace wardex::test
