#include "modules/process_control.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/child_process_probe.h"

namespace wardex {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

KaOSAL::KaString Wide(const std::string& text) {
  return KaOSAL::KaString(text.c_str(), KaOSAL::KA_CP_UTF8);
}

std::u16string Wide16(const std::string& text) { return KaOSAL::FromUtf8(text); }

std::string Narrow(const KaOSAL::KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

int64_t ElapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
}

// Each test in a folder with blanks, with a fake xdg-open first in PATH that
// records what it was asked to open in "opened".
class RunProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = root_.path() + "/with blanks";
    ASSERT_TRUE(test::WriteScript(root_.path() + "/bin/xdg-open",
                                  "printf %s \"$*\" > '" + root_.path() + "/opened'"));
    saved_path_ = getenv("PATH");
    setenv("PATH", (root_.path() + "/bin:" + saved_path_).c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    EXPECT_TRUE(test::WaitFor([] { return test::ZombieChildren().empty(); }));
  }

  // Writes a script "run me" into the folder with blanks.
  std::string Script(const std::string& body) {
    const std::string path = folder_ + "/run me";
    EXPECT_TRUE(test::WriteScript(path, body));
    return path;
  }
  std::string Opened() const { return test::ReadFile(root_.path() + "/opened"); }

  test::ScopedTestRoot root_;
  std::string folder_;
  std::string saved_path_;
};

TEST_F(RunProgramTest, QuotesThePathPassesArgumentsAndStartsInItsFolder) {
  const std::string program =
      // It is still running when the wait begins: it ends in time and is not terminated.
      Script(
          "sleep 0.1; { pwd; echo \"$#\"; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; "
          "done; } > out");
  const struct {
    const char16_t* arguments;
    std::string expected;  // pwd, argument count, arguments
  } kCases[] = {
      {nullptr, "0\n"},
      {u"", "0\n"},
      {u"one", "1\n[one]\n"},
      {u"one \"two three\" ", "2\n[one]\n[two three]\n"},
      {u"-x=\"a b\"\\\\", "1\n[-x=a b\\\\]\n"},
  };
  for (const auto& c : kCases) {
    unlink((folder_ + "/out").c_str());
    EXPECT_EQ(RunProgram(Wide16(program).c_str(), c.arguments, 1000, 0, 5000, nullptr), 0u);
    EXPECT_EQ(test::ReadFile(folder_ + "/out"), folder_ + "\n" + c.expected);
  }
  EXPECT_EQ(Opened(), "");
}

TEST_F(RunProgramTest, ACopiedShellWithBlanksRunsAndItsExitCodeIsNotTheResult) {
  const std::string shell = folder_ + "/my shell";
  ASSERT_TRUE(test::CopyExecutable("/bin/sh", shell));
  EXPECT_EQ(
      RunProgram(Wide16(shell).c_str(), u"-c \"echo $0 > out; exit 7\"", 1000, 1, 5000, nullptr),
      0u);
  EXPECT_EQ(test::ReadLine(folder_ + "/out"), shell);
}

TEST_F(RunProgramTest, MissingProgramsFailWithoutTheShell) {
  EXPECT_EQ(RunProgram(nullptr, nullptr, 1000, 0, 0, nullptr), KaOSAL::kErrorFileNotFound);
  EXPECT_EQ(RunProgram(Wide16(folder_ + "/missing").c_str(), u"x", 1000, 0, 0, nullptr),
            KaOSAL::kErrorFileNotFound);
  EXPECT_EQ(Opened(), "");
}

TEST_F(RunProgramTest, WhatCannotBeStartedIsOpenedThroughTheShellOnce) {
  const std::string document = folder_ + "/read me.txt";
  ASSERT_TRUE(test::WriteFile(document, "text"));
  EXPECT_EQ(RunProgram(Wide16(document).c_str(), nullptr, 1000, 0, 5000, nullptr), 0u);
  EXPECT_EQ(Opened(), document);

  // With arguments the shell is given a command line that names no file.
  unlink((root_.path() + "/opened").c_str());
  EXPECT_EQ(RunProgram(Wide16(document).c_str(), u"arg", 1000, 0, 0, nullptr),
            KaOSAL::kErrorAccessDenied);
  EXPECT_EQ(Opened(), "");
}

TEST_F(RunProgramTest, WithoutExitWaitReturnsOnceTheProgramRuns) {
  const std::string program = Script("echo $$ > pid; exec sleep 3");
  const auto start = Clock::now();
  EXPECT_EQ(RunProgram(Wide16(program).c_str(), nullptr, 5000, 0, 0, nullptr), 0u);
  EXPECT_LT(ElapsedMs(start), 1000);
  ASSERT_TRUE(test::WaitFor([&] { return !test::ReadLine(folder_ + "/pid").empty(); }));
  const pid_t pid = std::stoi(test::ReadLine(folder_ + "/pid"));
  EXPECT_TRUE(test::ProcessExists(pid));
  kill(pid, SIGKILL);  // the reaper takes it; TearDown checks
  EXPECT_TRUE(test::WaitFor([&] { return !test::ProcessExists(pid); }));
}

TEST_F(RunProgramTest, EndsTheProgramWhenTheWaitElapsesOrIsCancelled) {
  const std::string program = Script("echo $$ > pid; exec sleep 30");
  for (const bool cancel_it : {false, true}) {
    unlink((folder_ + "/pid").c_str());
    std::atomic<uint8_t> cancel{0};
    std::thread canceller([&] {
      if (!cancel_it) return;
      std::this_thread::sleep_for(milliseconds(200));
      cancel = 1;
    });
    const auto start = Clock::now();
    const uint32_t wait_ms = cancel_it ? 20000 : 300;
    EXPECT_EQ(RunProgram(Wide16(program).c_str(), nullptr, 1000, 0, wait_ms, &cancel),
              KaOSAL::kErrorServiceProcessAborted);
    const int64_t elapsed = ElapsedMs(start);
    canceller.join();
    // The wait counts whole milliseconds of the tick count, so it may end up to
    // one millisecond before a finer clock says the time is up.
    EXPECT_GE(elapsed, (cancel_it ? 200 : 300) - 1);
    EXPECT_LT(elapsed, 3000);
    const pid_t pid = std::stoi("0" + test::ReadLine(folder_ + "/pid"));
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(test::WaitFor([&] { return !test::ProcessExists(pid); })) << "still runs";
  }
  EXPECT_EQ(Opened(), "");  // a started program is never retried through the shell
}

// A copy of /bin/sleep under a name of its own, run by a forked child; with
// |ignore_term| the child ignores SIGTERM across the exec.
class ForeignProcess {
 public:
  ForeignProcess(const std::string& path, bool ignore_term) {
    pid_ = fork();
    if (pid_ == 0) {
      if (ignore_term) signal(SIGTERM, SIG_IGN);
      execl(path.c_str(), path.c_str(), "30", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~ForeignProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      Reap();
    }
  }
  ForeignProcess(const ForeignProcess&) = delete;
  ForeignProcess& operator=(const ForeignProcess&) = delete;

  // Waits until it runs the copy (the exec happened).
  bool WaitForImage(const std::string& path) const {
    return test::WaitFor([&] {
      char exe[4096] = {};
      const std::string link = "/proc/" + std::to_string(pid_) + "/exe";
      return readlink(link.c_str(), exe, sizeof(exe) - 1) > 0 &&
             std::string(exe).rfind(path, 0) == 0;
    });
  }
  // Reaps it and returns the signal it died of (0 when it exited).
  int Reap() {
    int status = 0;
    reaped_ = waitpid(pid_, &status, 0) == pid_;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

class ProcessesByNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "wdx-sleep-" + std::to_string(getpid());
    path_ = root_.path() + "/" + name_;
    ASSERT_TRUE(test::CopyExecutable("/bin/sleep", path_));
  }

  test::ScopedTestRoot root_;
  std::string name_;
  std::string path_;
};

TEST_F(ProcessesByNameTest, ClosesAllOfThisExecutableWithinOneGraceTimeAndNoOther) {
  const std::string elsewhere = root_.path() + "/elsewhere/" + name_;
  ASSERT_TRUE(test::CopyExecutable("/bin/sleep", elsewhere));
  // Upper case: names and paths match without regard to case.
  std::string upper = path_;
  for (char& ch : upper) ch = static_cast<char>(toupper(ch));
  const struct {
    int stubborn;  // processes that ignore SIGTERM
    uint32_t grace_ms;
    int64_t min_ms, max_ms;
  } kCases[] = {
      {0, 5000, 0, 1500},          // closes at once, long before the grace time
      {5, 400, 400 - 1, 2 * 400},  // one grace time for all, not one for each
  };
  for (const auto& c : kCases) {
    ForeignProcess closing(path_, false);
    std::vector<std::unique_ptr<ForeignProcess>> stubborn;
    for (int i = 0; i < c.stubborn; ++i)
      stubborn.push_back(std::make_unique<ForeignProcess>(path_, true));
    ForeignProcess other_installation(elsewhere, false);
    ASSERT_TRUE(closing.WaitForImage(path_));
    for (const auto& process : stubborn) ASSERT_TRUE(process->WaitForImage(path_));
    ASSERT_TRUE(other_installation.WaitForImage(elsewhere));
    const auto start = Clock::now();
    CloseProcessesByName(Wide(upper.substr(upper.rfind('/') + 1)), Wide(upper), 1, c.grace_ms);
    const int64_t elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, c.min_ms);
    EXPECT_LT(elapsed, c.max_ms);
    EXPECT_EQ(closing.Reap(), SIGTERM);
    for (const auto& process : stubborn) EXPECT_EQ(process->Reap(), SIGKILL);
    kill(other_installation.pid(), SIGKILL);
    EXPECT_EQ(other_installation.Reap(), SIGKILL) << "another installation's process was closed";
  }
}

TEST_F(ProcessesByNameTest, FindsAReplacedBinaryByNameAndPath) {
  ForeignProcess process(path_, false);
  ASSERT_TRUE(process.WaitForImage(path_));
  ASSERT_EQ(unlink(path_.c_str()), 0);  // as an update replaces the file
  const uint32_t id = static_cast<uint32_t>(process.pid());
  const struct {
    std::vector<ProcessFilter::Image> images;
    size_t count;
  } kCases[] = {
      {{{Wide(name_), u""}}, 1},
      {{{Wide(name_), Wide(path_)}}, 1},
      {{{Wide(name_), Wide(path_ + " (deleted)")}}, 0},
      {{{Wide(name_), Wide(root_.path() + "/other")}}, 0},
      {{{Wide(name_), u""}, {Wide(name_), Wide(path_)}}, 2},  // once for each image
      {{{Wide(name_ + "x"), u""}}, 0},
  };
  for (const auto& c : kCases) {
    ProcessFilter filter;
    filter.images = c.images;
    const std::vector<ProcessEntry> found = FindProcesses(filter);
    ASSERT_EQ(found.size(), c.count);
    for (const ProcessEntry& entry : found) {
      EXPECT_EQ(entry.process_id, id);
      EXPECT_EQ(Narrow(entry.image_name), name_);
      EXPECT_EQ(Narrow(entry.image_path), path_);
    }
  }

  uint32_t running_id = 0;
  EXPECT_TRUE(IsProcessRunning(Wide(name_), u"", true, &running_id));
  EXPECT_EQ(running_id, id);
  kill(process.pid(), SIGKILL);
  // A zombie has ended; once reaped the process is gone from the snapshot.
  EXPECT_TRUE(test::WaitFor([&] { return !IsProcessRunning(Wide(name_), u"", true, nullptr); }));
  process.Reap();
  running_id = 0;
  EXPECT_FALSE(IsProcessRunning(Wide(name_), u"", true, &running_id));
  EXPECT_EQ(running_id, 0u);
}

TEST(FindProcessesTest, ExcludesTheCallerOnlyWhenAsked) {
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof(exe) - 1), 0);
  const std::string path = exe;
  const KaOSAL::KaString name = Wide(path.substr(path.rfind('/') + 1));
  const uint32_t self = static_cast<uint32_t>(getpid());
  for (const bool exclude : {false, true}) {
    ProcessFilter filter;
    filter.images.push_back({name, Wide(path)});
    filter.exclude_self = exclude;
    bool has_self = false;
    for (const ProcessEntry& entry : FindProcesses(filter)) has_self |= entry.process_id == self;
    EXPECT_EQ(has_self, !exclude);
  }
  uint32_t id = 0;
  EXPECT_TRUE(IsProcessRunning(name, Wide(path), false, &id));
  EXPECT_NE(id, 0u);
}

}  // namespace
}  // namespace wardex
