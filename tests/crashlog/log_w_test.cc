#if defined(_WIN32)
#include <shlobj.h>
#else
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
#include "platform/process.h"
#include "platform/thread.h"
#include "support/test_env.h"
#include "wardex/crashlog.h"

namespace wardex::test {
namespace {

// The calling thread's id as log lines name it.
int ThreadId() { return static_cast<int>(platform::CurrentThreadId()); }

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
  std::vector<std::pair<int, std::string>> logged;
  for (const LogLine& line : ParsedLines()) {
    logged.emplace_back(line.level, line.text);
    EXPECT_EQ(line.thread, ThreadId());
    tm stamp{};
    std::istringstream(line.time) >> std::get_time(&stamp, "%Y-%m-%d %H:%M:%S");
    stamp.tm_isdst = -1;
    EXPECT_GE(mktime(&stamp), before) << line.time;
    EXPECT_LE(mktime(&stamp), after) << line.time;
  }
  EXPECT_EQ(logged, expected);
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
      thread_ids[t] = ThreadId();
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
  const std::vector<int> kLevels = {3, 6, 8, 9, 12, 14, 15};
  // The setting (nullptr: unset) and the levels written.
  const std::vector<std::pair<const char*, std::vector<int>>> cases = {
      {nullptr, kLevels}, {"", kLevels}, {"6", {3, 6}}, {"0", {}}, {"eight", kLevels}};
  int case_number = 0;
  for (const auto& [setting, expected] : cases) {
    log_path_ = root_.path() + "/levels" + std::to_string(case_number++) + ".log";
    SetEnv("WARDEX_LOG_FILE", log_path_);
    SetOrUnsetEnv("WARDEX_LOG_LEVEL", setting);
    for (int level : kLevels) LogW(level, u"level %d", level);
    std::vector<int> written;
    for (const LogLine& line : ParsedLines()) {
      EXPECT_EQ(line.text, "level " + std::to_string(line.level));
      written.push_back(line.level);
    }
    EXPECT_EQ(written, expected) << "WARDEX_LOG_LEVEL=" << (setting ? setting : "(unset)");
  }
}

// Without a file of its own the log goes to the user's state folder
// (XDG_STATE_HOME when absolute, else ~/.local/state), on Windows to the
// local application data folder.
TEST_F(LogWTest, DefaultTargetIsTheUsersStateFolder) {
  UnsetEnv("WARDEX_LOG_FILE");
  // XDG_STATE_HOME (nullptr: unset) and the file.
  using Case = std::pair<const char*, std::string>;
#if defined(_WIN32)
  wchar_t* local = nullptr;
  ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local), S_OK);
  const std::vector<Case> cases = {
      {nullptr, (std::filesystem::path(local) / "Wardex" / "log" / "wardex.log").string()}};
  CoTaskMemFree(local);
#else
  const std::string home = root_.path() + "/home";
  root_.Set("HOME", home);
  const std::string state_home = root_.state_home();
  const std::string fallback = home + "/.local/state/wardex/log/wardex.log";
  const std::vector<Case> cases = {{nullptr, fallback},
                                   {"relative/state", fallback},
                                   {"", fallback},
                                   {state_home.c_str(), state_home + "/wardex/log/wardex.log"}};
#endif
  for (const auto& [setting, file] : cases) {
    SetOrUnsetEnv("XDG_STATE_HOME", setting);
    const std::string text = "default target " + std::to_string(platform::CurrentProcessId()) +
                             " XDG_STATE_HOME=" + (setting ? setting : "(unset)");
    LogW(kLogInfo, u"%S", text.c_str());
    // Other tests of the Wine prefix log there too: find this one's line.
    const std::vector<std::string> logged = LoggedAt(file, kLogInfo);
    EXPECT_NE(std::find(logged.begin(), logged.end(), text), logged.end()) << file;
#if !defined(_WIN32)
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << "the log is private to the user";
#endif
  }
}

#if !defined(_WIN32)
TEST_F(LogWTest, FilteredCallDoesNotFormat) {
  // The argument points into a page that cannot be read: formatting it
  // faults. The enabled level proves that the probe works.
  for (const int level : {kLogTrace, kLogNotable}) {
    const ChildResult child = RunInChild([&] {
      // The probe's fault is expected: keep the sanitizers' reports of it quiet.
      const int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, STDERR_FILENO);
      setenv("WARDEX_LOG_LEVEL", "6", 1);
      void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      LogW(level, u"text %s", static_cast<const char16_t*>(page));
    });
    EXPECT_EQ(child.ExitedWith(0), level == kLogTrace)
        << "level " << level << ": the argument is read only when the line is written";
  }
}

TEST_F(LogWTest, UnwritableFolderFallsBackToStandardError) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  // The root's folders belong to root: the unprivileged child cannot write.
  chmod(root_.state_home().c_str(), 0755);
  const std::string folder = root_.state_home() + "/wardex/log";
  const std::string default_file = folder + "/wardex.log";
  // Where the log would have gone, and the notice.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {default_file, "wardex: cannot create the log folder " + folder +
                         ": Permission denied; logging to standard error"},
      {root_.state_home() + "/mine.log",
       "wardex: cannot open the log file " + root_.state_home() +
           "/mine.log: Permission denied; logging to standard error"},
  };
  for (const auto& [path, notice] : cases) {
    SetOrUnsetEnv("WARDEX_LOG_FILE", path != default_file ? path.c_str() : nullptr);
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
    EXPECT_FALSE(std::filesystem::exists(path));
    // The notice as it is, then the texts of the lines in the log's layout.
    std::vector<std::string> lines = ReadLines(captured);
    for (size_t i = 1; i < lines.size(); ++i) {
      if (const std::optional<LogLine> line = ParseLogLine(lines[i])) lines[i] = line->text;
    }
    EXPECT_EQ(lines, (std::vector<std::string>{notice, "fallback 1", "fallback 2"}));
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
#endif

}  // namespace
}  // namespace wardex::test
