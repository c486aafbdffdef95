#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_test_util.h"
#include "support/test_env.h"
#include "wardex/crashlog.h"

namespace wardex::test {
namespace {

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
  struct Case {
    std::string path;  // where the log would have gone
    std::string notice;
  };
  const std::string folder = root_.state_home() + "/wardex/log";
  const std::string default_file = folder + "/wardex.log";
  const std::vector<Case> cases = {
      {default_file, "wardex: cannot create the log folder " + folder +
                         ": Permission denied; logging to standard error"},
      {root_.state_home() + "/mine.log",
       "wardex: cannot open the log file " + root_.state_home() +
           "/mine.log: Permission denied; logging to standard error"},
  };
  for (const Case& c : cases) {
    SetOrUnsetEnv("WARDEX_LOG_FILE", c.path != default_file ? c.path.c_str() : nullptr);
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
