#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
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
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec;
}

// Each test logs to a file of its own in its own root.
class LogWTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Tests that use the default target must not write to a real journal.
    setenv("WARDEX_LOG_JOURNAL", "0", 1);
    log_path_ = root_.path() + "/own/test.log";
    setenv("WARDEX_LOG_FILE", log_path_.c_str(), 1);
    unsetenv("WARDEX_LOG_LEVEL");
  }
  void TearDown() override {
    unsetenv("WARDEX_LOG_JOURNAL");
    unsetenv("WARDEX_LOG_FILE");
    unsetenv("WARDEX_LOG_LEVEL");
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

TEST_F(LogWTest, WritesExactLinesWithLocalTimeLevelAndThread) {
  // A zone far from UTC, so that a UTC stamp would be caught.
  setenv("TZ", "XYZ-3", 1);
  tzset();
  // time() reads the coarse clock, which lags the real-time clock the log
  // stamps with by up to a tick; take both bounds from the log's clock.
  const time_t before = RealtimeSeconds();
  errno = ENOENT;
  LogW(kLogTrace, u"Tray ### %s", u"InitInstance");
  LogW(kLogInfo, u"LOAD DLL DONE: %s (%dms)", u"Console", 42);
  LogW(kLogError, u"code 0x%08X %S %I64d", 0xC0000005u, "narrow", int64_t{-5000000000});
  LogW(kLogNotable, u"Gr\u00fc\u00dfe\r\n");
  LogW(kLogSysFail, u"first\nsecond\r\n");
  LogW(kLogTaskStep, nullptr);
  EXPECT_EQ(errno, ENOENT) << "a log call must leave errno alone";
  const time_t after = RealtimeSeconds();

  const std::vector<std::pair<int, std::string>> expected = {
      {14, "Tray ### InitInstance"},
      {8, "LOAD DLL DONE: Console (42ms)"},
      {3, "code 0xC0000005 narrow -5000000000"},
      {6,
       "Gr\xC3\xBC\xC3\x9F"
       "e"},
      {9, "first second"},
      {12, ""},
  };
  const std::vector<LogLine> lines = ParsedLines();
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].level, expected[i].first) << i;
    EXPECT_EQ(lines[i].text, expected[i].second) << i;
    EXPECT_EQ(lines[i].thread, gettid()) << i;
    tm stamp{};
    ASSERT_NE(strptime(lines[i].time.c_str(), "%Y-%m-%d %H:%M:%S", &stamp), nullptr);
    stamp.tm_isdst = -1;
    const time_t logged = mktime(&stamp);
    EXPECT_GE(logged, before) << lines[i].time;
    EXPECT_LE(logged, after) << lines[i].time;
  }
  unsetenv("TZ");
  tzset();
}

TEST_F(LogWTest, LinesOfConcurrentThreadsStayWholeAndInOrder) {
  const int kThreads = 8;
  const int kLinesEach = Scaled(400, 100);
  const std::string payload(200, '#');
  std::vector<int> thread_ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      thread_ids[t] = gettid();
      for (int i = 0; i < kLinesEach; ++i) {
        LogW(kLogInfo, u"writer %d line %d %S end", t, i, payload.c_str());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::regex kText(R"(writer (\d+) line (\d+) (#+) end)");
  std::vector<int> next(kThreads, 0);
  const std::vector<LogLine> lines = ParsedLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesEach));
  for (const LogLine& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line.text, match, kText)) << line.text;
    const int writer = std::stoi(match[1]);
    ASSERT_EQ(match[3].length(), static_cast<long>(payload.size())) << line.text;
    EXPECT_EQ(line.thread, thread_ids[writer]);
    EXPECT_EQ(std::stoi(match[2]), next[writer]++) << "lines of one thread out of order";
  }
}

TEST_F(LogWTest, HighestLevelComesFromTheEnvironment) {
  struct Case {
    const char* setting;  // nullptr: unset
    std::vector<int> written;
  };
  const std::vector<int> kLevels = {3, 6, 8, 9, 12, 14, 15};
  const std::vector<Case> cases = {
      {nullptr, {3, 6, 8, 9, 12, 14, 15}},
      {"", {3, 6, 8, 9, 12, 14, 15}},
      {"6", {3, 6}},
      {"14", {3, 6, 8, 9, 12, 14}},
      {"0", {}},
      {"eight", {3, 6, 8, 9, 12, 14, 15}},
  };
  int case_number = 0;
  for (const Case& c : cases) {
    log_path_ = root_.path() + "/levels" + std::to_string(case_number++) + ".log";
    setenv("WARDEX_LOG_FILE", log_path_.c_str(), 1);
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

TEST_F(LogWTest, FilteredCallDoesNotFormat) {
  // The argument points into a page that cannot be read: formatting it
  // faults. The enabled level proves that the probe works.
  struct Case {
    int level;
    bool formats;
  };
  for (const Case& c : {Case{kLogTrace, false}, Case{kLogNotable, true}}) {
    const ChildResult child = RunInChild([&] {
      // The probe's fault is expected: keep the sanitizers' reports of it quiet.
      const int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, STDERR_FILENO);
      setenv("WARDEX_LOG_LEVEL", "6", 1);
      void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      LogW(c.level, u"text %s", static_cast<const char16_t*>(page));
    });
    if (c.formats) {
      EXPECT_FALSE(child.ExitedWith(0)) << "the unreadable argument was not read";
    } else {
      EXPECT_TRUE(child.ExitedWith(0)) << "a filtered call read its argument";
    }
  }
}

TEST_F(LogWTest, DefaultTargetFollowsTheXdgStateFolder) {
  unsetenv("WARDEX_LOG_FILE");
  const std::string home = root_.path() + "/home";
  setenv("HOME", home.c_str(), 1);
  const std::string state_home = root_.state_home();
  struct Case {
    const char* state_home;  // nullptr: unset
    std::string expected_file;
  };
  const std::vector<Case> cases = {
      {nullptr, home + "/.local/state/wardex/log/wardex.log"},
      {"relative/state", home + "/.local/state/wardex/log/wardex.log"},
      {"", home + "/.local/state/wardex/log/wardex.log"},
      {state_home.c_str(), state_home + "/wardex/log/wardex.log"},
  };
  int number = 0;
  for (const Case& c : cases) {
    SetOrUnsetEnv("XDG_STATE_HOME", c.state_home);
    const std::string text = "target " + std::to_string(number++);
    LogW(kLogInfo, u"%S", text.c_str());
    const std::vector<std::string> lines = ReadLines(c.expected_file);
    ASSERT_FALSE(lines.empty()) << c.expected_file;
    std::optional<LogLine> last = ParseLogLine(lines.back());
    ASSERT_TRUE(last) << lines.back();
    EXPECT_EQ(last->text, text) << c.expected_file;
    struct stat info {};
    ASSERT_EQ(stat(c.expected_file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the log is private to the user";
  }
}

TEST_F(LogWTest, RotatesAtTheSizeLimitKeepingThreeGenerations) {
  unsetenv("WARDEX_LOG_FILE");
  const std::string folder = root_.state_home() + "/wardex/log/";
  const std::string text(950, 'r');
  const int kLineSize = 1000;  // about: the prefix varies with the thread id
  const int total = 5 * static_cast<int>(crashlog::kLogFileMaxBytes / kLineSize);
  for (int i = 0; i < total; ++i) LogW(kLogInfo, u"%08d %S", i, text.c_str());

  EXPECT_FALSE(std::filesystem::exists(folder + "wardex.log.4"));
  // Oldest first: the sequence runs on without a gap across generations.
  int expected_number = -1;
  for (const char* name : {"wardex.log.3", "wardex.log.2", "wardex.log.1", "wardex.log"}) {
    const std::string path = folder + name;
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
    EXPECT_LE(size, crashlog::kLogFileMaxBytes) << path;
    const std::vector<std::string> lines = ReadLines(path);
    ASSERT_FALSE(lines.empty()) << path;
    if (std::string(name) != "wardex.log") {
      EXPECT_GT(size + static_cast<int64_t>(lines.back().size()) + 1, crashlog::kLogFileMaxBytes)
          << path << " was rotated before it was full";
    }
    for (const std::string& raw : lines) {
      std::optional<LogLine> line = ParseLogLine(raw);
      ASSERT_TRUE(line) << raw;
      const int number = std::stoi(line->text.substr(0, 8));
      if (expected_number >= 0) {
        ASSERT_EQ(number, expected_number) << path;
      }
      ASSERT_EQ(line->text.substr(9), text);
      expected_number = number + 1;
    }
  }
  EXPECT_EQ(expected_number, total);
}

TEST_F(LogWTest, UnwritableFolderFallsBackToStandardError) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  // The root's folders belong to root: the unprivileged child cannot write.
  chmod(root_.state_home().c_str(), 0755);
  struct Case {
    bool own_file;
    std::string path;  // where the log would have gone
    std::string notice;
  };
  const std::string folder = root_.state_home() + "/wardex/log";
  const std::vector<Case> cases = {
      {false, folder + "/wardex.log",
       "wardex: cannot create the log folder " + folder +
           ": Permission denied; logging to standard error"},
      {true, root_.state_home() + "/mine.log",
       "wardex: cannot open the log file " + root_.state_home() +
           "/mine.log: Permission denied; logging to standard error"},
  };
  for (const Case& c : cases) {
    SetOrUnsetEnv("WARDEX_LOG_FILE", c.own_file ? c.path.c_str() : nullptr);
    const std::string captured = root_.path() + "/stderr.txt";
    std::filesystem::remove(captured);
    const int fd = open(captured.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    ASSERT_GE(fd, 0);
    fchmod(fd, 0666);
    const int status = RunAsUnprivileged([&] {
      dup2(fd, STDERR_FILENO);
      LogW(kLogError, u"fallback %d", 1);
      LogW(kLogInfo, u"fallback %d", 2);
      return 0;
    });
    close(fd);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(std::filesystem::exists(c.path));
    const std::vector<std::string> lines = ReadLines(captured);
    ASSERT_EQ(lines.size(), 3u) << ReadFile(captured);
    EXPECT_EQ(lines[0], c.notice);
    for (int i = 1; i <= 2; ++i) {
      std::optional<LogLine> line = ParseLogLine(lines[i]);
      ASSERT_TRUE(line) << lines[i];
      EXPECT_EQ(line->text, "fallback " + std::to_string(i));
    }
  }
}

// Receives what the library sends to a journal socket of our own, mounted
// over /run in a private mount namespace. Exit codes: 0 pass, 1 fail, 2 skip.
int CheckJournal(const std::string& own_log_file) {
  if (unshare(CLONE_NEWNS) != 0) return 2;
  if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 2;
  if (mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) return 2;
  mkdir("/run/systemd", 0755);
  mkdir("/run/systemd/journal", 0755);
  const int journal = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, "/run/systemd/journal/socket");
  if (bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return 1;
  timeval wait{2, 0};
  setsockopt(journal, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
  auto receive = [&] {
    char buffer[4096];
    ssize_t size = recv(journal, buffer, sizeof(buffer), 0);
    return std::string(buffer, size > 0 ? static_cast<size_t>(size) : 0);
  };
  const std::vector<std::pair<int, int>> priorities = {{3, 3}, {6, 4},  {8, 6},
                                                       {9, 4}, {12, 6}, {14, 7}};
  for (const auto& [level, priority] : priorities) {
    LogW(level, u"journal %d", level);
    const std::string message = receive();
    for (const std::string& field : {"MESSAGE=journal " + std::to_string(level) + "\n",
                                     "PRIORITY=" + std::to_string(priority) + "\n",
                                     "WARDEX_LOG_LEVEL=" + std::to_string(level) + "\n"}) {
      if (message.find(field) == std::string::npos) {
        fprintf(stderr, "level %d: no %s in %s\n", level, field.c_str(), message.c_str());
        return 1;
      }
    }
  }
  // Switched off, or sent to a file of the test's own: the journal gets nothing.
  wait = {0, 300000};
  setsockopt(journal, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
  setenv("WARDEX_LOG_JOURNAL", "0", 1);
  LogW(kLogError, u"switched off");
  if (!receive().empty()) return 1;
  unsetenv("WARDEX_LOG_JOURNAL");
  setenv("WARDEX_LOG_FILE", own_log_file.c_str(), 1);
  LogW(kLogError, u"private");
  return receive().empty() ? 0 : 1;
}

TEST_F(LogWTest, DefaultTargetAlsoWritesToTheJournalWithPriorities) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root for a private mount namespace";
  unsetenv("WARDEX_LOG_FILE");
  unsetenv("WARDEX_LOG_JOURNAL");
  const ChildResult child = RunInChild([&] { _exit(CheckJournal(log_path_)); });
  if (child.ExitedWith(2)) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_TRUE(child.ExitedWith(0));
  EXPECT_EQ(ReadLines(root_.state_home() + "/wardex/log/wardex.log").size(), 7u);
}

}  // namespace
}  // namespace wardex::test
