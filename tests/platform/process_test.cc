#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/child_process_probe.h"
#include "platform/command_line.h"

namespace wardex::platform {
namespace {

using std::chrono::milliseconds;

KaOSAL::KaString Wide(const std::string& text) {
  return KaOSAL::KaString(text.c_str(), KaOSAL::KA_CP_UTF8);
}

std::string CurrentFolder() {
  char folder[4096] = {};
  return getcwd(folder, sizeof(folder)) != nullptr ? folder : "";
}

std::string Narrow(const KaOSAL::KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

// Starts "/bin/sh" -c |script| and waits for its end; returns its exit code.
uint32_t RunShell(const std::string& script, const std::string& folder = "", bool hidden = false) {
  auto child =
      ChildProcess::Start({Wide("\"/bin/sh\" -c \"" + script + "\""), Wide(folder), hidden});
  if (child == nullptr) return 0xDEAD;
  uint32_t code = kStillActive;
  test::WaitFor([&] { return (code = child->ExitCode()) != kStillActive; });
  return code;
}

TEST(SplitCommandLineTest, FollowsTheWindowsRules) {
  const struct {
    const char* line;
    std::vector<std::string> args;
  } kCases[] = {
      {"", {}},
      {"   ", {}},
      {"prog", {"prog"}},
      {"\"/a b/prog\"", {"/a b/prog"}},
      {"\"/a b/prog\" one", {"/a b/prog", "one"}},
      {"\"/a\\b\\\"x", {"/a\\b\\", "x"}},  // no escapes in the program name
      {"p  one\t two ", {"p", "one", "two"}},
      {"p \"two words\" x\"y z\"", {"p", "two words", "xy z"}},
      {"p a\\\\b", {"p", "a\\\\b"}},        // backslashes without a quote stay
      {"p a\\\"b", {"p", "a\"b"}},          // odd count: a literal quote
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},  // even count: half, quote toggles
      {"p \"a\"\"b\"", {"p", "a\"b"}},      // "" inside quotes
      {"p \"\"", {"p", ""}},                // an empty argument
      {"p \"open end", {"p", "open end"}},  // an unclosed quote runs to the end
      {"p trailing\\", {"p", "trailing\\"}},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> got;
    for (const KaOSAL::KaString& arg : SplitCommandLine(Wide(c.line))) got.push_back(Narrow(arg));
    EXPECT_EQ(got, c.args) << c.line;
  }
}

TEST(ChildProcessTest, ReportsExitCodesAndSignals) {
  const struct {
    const char* script;
    uint32_t code;
  } kCases[] = {
      {"exit 0", 0},
      {"exit 3", 3},
      {"exit 255", 255},
      {"kill -TERM $$", 128 + SIGTERM},
  };
  for (const auto& c : kCases) EXPECT_EQ(RunShell(c.script), c.code) << c.script;
}

TEST(ChildProcessTest, StartFailuresCarryTheErrorCode) {
  test::ScopedTestRoot root;
  const std::string plain = root.path() + "/plain.txt";
  const std::string garbage = root.path() + "/garbage";
  ASSERT_TRUE(test::WriteFile(plain, "text"));
  ASSERT_TRUE(test::WriteFile(garbage, "\x01\x02\x03 not a program"));
  ASSERT_EQ(chmod(garbage.c_str(), 0755), 0);
  const struct {
    std::string command_line;
    std::string folder;
    uint32_t error;
  } kCases[] = {
      {"\"" + root.path() + "/missing\"", "", KaOSAL::kErrorFileNotFound},
      {"\"" + plain + "\"", "", KaOSAL::kErrorAccessDenied},
      {"\"" + root.path() + "\"", "", KaOSAL::kErrorAccessDenied},
      {"\"" + garbage + "\"", "", 193},
      {"\"/bin/true\"", root.path() + "/no such folder", KaOSAL::kErrorFileNotFound},
      {"", "", KaOSAL::kErrorInvalidParameter},
  };
  for (const auto& c : kCases) {
    KaOSAL::SetLastError(0);
    EXPECT_EQ(ChildProcess::Start({Wide(c.command_line), Wide(c.folder), false}), nullptr)
        << c.command_line;
    EXPECT_EQ(KaOSAL::GetLastError(), c.error) << c.command_line;
  }
  EXPECT_TRUE(test::ZombieChildren().empty());
}

TEST(ChildProcessTest, StartsInTheWorkingFolderWithArguments) {
  test::ScopedTestRoot root;
  const std::string folder = root.path() + "/a folder";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  EXPECT_EQ(RunShell("pwd > out; printf %s \\\"$0\\\" >> out", folder), 0u);
  EXPECT_EQ(test::ReadFile(folder + "/out"), folder + "\n/bin/sh");
}

TEST(ChildProcessTest, ResetsTheSignalMaskAndDispositions) {
  test::ScopedTestRoot root;
  const std::string out = root.path() + "/status";
  sigset_t blocked;
  sigset_t previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR2);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
  struct sigaction ignore {};
  struct sigaction saved {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGUSR1, &ignore, &saved), 0);
  const uint32_t code = RunShell("exec grep ^Sig /proc/self/status > " + out);
  sigaction(SIGUSR1, &saved, nullptr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_EQ(code, 0u);
  const std::string status = test::ReadFile(out);
  EXPECT_NE(status.find("SigBlk:\t0000000000000000"), std::string::npos) << status;
  EXPECT_NE(status.find("SigIgn:\t0000000000000000"), std::string::npos) << status;
}

TEST(ChildProcessTest, InheritsOnlyItsChannelAndHiddenHasNoOutput) {
  test::ScopedTestRoot root;
  const int leaked = open("/dev/null", O_RDONLY);  // deliberately inheritable
  ASSERT_GE(leaked, 3);
  const std::string fd = std::to_string(leaked);
  EXPECT_EQ(RunShell("test ! -e /proc/self/fd/" + fd), 0u);
  // A channel arrives as descriptor 3, and still nothing else does.
  ASSERT_EQ(dup2(leaked, 20), 20);
  int channel[2];
  ASSERT_EQ(pipe2(channel, O_CLOEXEC), 0);
  auto child =
      ChildProcess::Start({u"\"/bin/sh\" -c \"echo through >&3 && test ! -e /proc/self/fd/20\"",
                           u"", false, NativeHandle{channel[1]}});
  ASSERT_NE(child, nullptr);
  close(channel[1]);
  ASSERT_TRUE(child->WaitForExit(kInfinite));
  EXPECT_EQ(child->ExitCode(), 0u);
  char got[16] = {};
  EXPECT_EQ(read(channel[0], got, sizeof(got) - 1), 8);
  EXPECT_STREQ(got, "through\n");
  close(channel[0]);
  close(20);
  close(leaked);

  const std::string out = root.path() + "/stdout";
  ASSERT_EQ(RunShell("readlink /proc/$$/fd/0 /proc/$$/fd/2 > " + out, "", /*hidden=*/true), 0u);
  // The shell redirects its own output for a moment; its input and errors show.
  EXPECT_EQ(test::ReadLine(out), "/dev/null\n/dev/null");
}

TEST(ChildProcessTest, TerminateRecordsTheCodeAndEveryChildIsReaped) {
  auto child = ChildProcess::Start({u"\"/bin/sleep\" 30", u"", false});
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->ExitCode(), kStillActive);
  ASSERT_TRUE(child->Terminate(0xFFFFFFFF));
  uint32_t code = kStillActive;
  EXPECT_TRUE(test::WaitFor([&] { return (code = child->ExitCode()) != kStillActive; }));
  EXPECT_EQ(code, 0xFFFFFFFFu);
  EXPECT_FALSE(child->Terminate(1));  // an ended child cannot be terminated
  EXPECT_EQ(child->ExitCode(), 0xFFFFFFFFu);

  // Handles dropped while their children run: the reaper takes them.
  std::vector<pid_t> ids;
  for (int i = 0; i < 5; ++i) {
    auto running = ChildProcess::Start({u"\"/bin/sleep\" 0.2", u"", false});
    ASSERT_NE(running, nullptr);
    ids.push_back(static_cast<pid_t>(running->id()));
  }
  EXPECT_TRUE(test::WaitFor([&] {
    for (pid_t id : ids)
      if (test::ProcessExists(id)) return false;
    return true;
  }));
  EXPECT_TRUE(test::ZombieChildren().empty());
}

TEST(ProcessSnapshotTest, ListsThisProcessSortedWithItsImage) {
  std::vector<ProcessSnapshotEntry> entries;
  ASSERT_TRUE(TakeProcessSnapshot(entries));
  ASSERT_GT(entries.size(), 1u);
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof(exe) - 1), 0);
  const std::string path = exe;
  bool found = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(entries[i - 1].id, entries[i].id);
    }
    if (entries[i].id != CurrentProcessId()) continue;
    found = true;
    EXPECT_EQ(Narrow(entries[i].image_path), path);
    EXPECT_EQ(Narrow(entries[i].image_name), path.substr(path.rfind('/') + 1));
    EXPECT_GT(entries[i].start_time, 0u);
  }
  EXPECT_TRUE(found);
}

// Finds the snapshot entry of |id|.
bool SnapshotEntryOf(uint32_t id, ProcessSnapshotEntry& found) {
  std::vector<ProcessSnapshotEntry> entries;
  if (!TakeProcessSnapshot(entries)) return false;
  for (const ProcessSnapshotEntry& entry : entries)
    if (entry.id == id) {
      found = entry;
      return true;
    }
  return false;
}

TEST(ProcessHandleTest, OpensOnlyTheProcessOfTheSnapshot) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    pause();
    _exit(0);
  }
  ProcessSnapshotEntry entry;
  ASSERT_TRUE(SnapshotEntryOf(static_cast<uint32_t>(pid), entry));

  ProcessSnapshotEntry later = entry;  // the same id, started at another time
  later.start_time += 1;
  KaOSAL::SetLastError(0);
  EXPECT_EQ(ProcessHandle::Open(later), nullptr);
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidParameter);

  auto process = ProcessHandle::Open(entry);
  ASSERT_NE(process, nullptr);
  EXPECT_FALSE(process->HasEnded());
  ASSERT_TRUE(process->AskToClose());
  EXPECT_TRUE(test::WaitFor([&] { return process->HasEnded(); }));  // a zombie has ended
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  // Reaped, the id may go to another process; the handle never signals it.
  EXPECT_FALSE(process->Terminate());

  KaOSAL::SetLastError(0);
  EXPECT_EQ(ProcessHandle::Open(entry), nullptr);
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidParameter);
}

TEST(ProcessHandleTest, AnotherUsersProcessDoesNotOpenAndShowsNoPath) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to drop to another user";
  const uint32_t owner = CurrentProcessId();  // runs as root
  const int status = test::RunAsUnprivileged([owner] {
    ProcessSnapshotEntry entry;
    if (!SnapshotEntryOf(owner, entry)) return 1;
    if (!entry.image_path.IsEmpty() || entry.image_name.IsEmpty()) return 2;
    KaOSAL::SetLastError(0);
    if (ProcessHandle::Open(entry) != nullptr) return 3;
    return KaOSAL::GetLastError() == KaOSAL::kErrorAccessDenied ? 0 : 4;
  });
  EXPECT_EQ(status, 0);
}

// A fake xdg-open first in PATH that records its arguments and folder and
// exits with the code in the file "opener-exit" beside it (0 without one).
class ShellOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bin_ = root_.path() + "/bin";
    ASSERT_TRUE(test::WriteScript(bin_ + "/xdg-open", "printf '%s|%s' \"$*\" \"$PWD\" > " + bin_ +
                                                          "/opened\nexit $(cat " + bin_ +
                                                          "/opener-exit 2>/dev/null || echo 0)"));
    saved_path_ = getenv("PATH");
    setenv("PATH", (bin_ + ":" + saved_path_).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", saved_path_.c_str(), 1); }

  std::string Opened() const { return test::ReadFile(bin_ + "/opened"); }

  test::ScopedTestRoot root_;
  std::string bin_;
  std::string saved_path_;
};

TEST_F(ShellOpenTest, HandsDocumentsFoldersAndLinksToTheOpener) {
  const std::string doc = root_.path() + "/a doc.txt";
  ASSERT_TRUE(test::WriteFile(doc, "text"));
  const struct {
    std::string target;
    std::string folder;
    std::string opened;
  } kCases[] = {
      {doc, "", doc + "|"},
      {"\"" + doc + "\"", root_.path(), doc + "|" + root_.path()},
      {"a doc.txt", root_.path(), doc + "|" + root_.path()},
      {root_.path(), "", root_.path() + "|"},
      {"https://127.0.0.1/x", "", "https://127.0.0.1/x|"},
      {"mailto:someone@example.invalid", "", "mailto:someone@example.invalid|"},
  };
  for (const auto& c : kCases) {
    unlink((bin_ + "/opened").c_str());
    EXPECT_TRUE(ShellOpen(Wide(c.target), Wide(c.folder))) << c.target;
    std::string expected = c.opened;
    if (c.folder.empty()) expected += CurrentFolder();
    EXPECT_EQ(Opened(), expected) << c.target;
  }
}

TEST_F(ShellOpenTest, FailsForMissingTargetsAndRefusals) {
  KaOSAL::SetLastError(0);
  EXPECT_FALSE(ShellOpen(Wide(root_.path() + "/missing"), u""));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorFileNotFound);
  // A quoted path followed by arguments names no file.
  const std::string doc = root_.path() + "/doc.txt";
  ASSERT_TRUE(test::WriteFile(doc, "text"));
  EXPECT_FALSE(ShellOpen(Wide("\"" + doc + "\" arg"), u""));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorFileNotFound);
  EXPECT_EQ(Opened(), "");

  ASSERT_TRUE(test::WriteFile(bin_ + "/opener-exit", "3"));
  KaOSAL::SetLastError(0);
  EXPECT_FALSE(ShellOpen(Wide(doc), u""));
  EXPECT_EQ(KaOSAL::GetLastError(), 1155u);
  EXPECT_EQ(Opened(), doc + "|" + CurrentFolder());
  EXPECT_TRUE(test::ZombieChildren().empty());
}

TEST_F(ShellOpenTest, StartsAnExecutableDirectly) {
  const std::string program = root_.path() + "/my program";
  ASSERT_TRUE(test::WriteScript(program, "pwd > \"" + root_.path() + "/ran\""));
  EXPECT_TRUE(ShellOpen(Wide(program), Wide(root_.path())));
  EXPECT_TRUE(test::WaitFor([&] { return test::ReadLine(root_.path() + "/ran") == root_.path(); }));
  EXPECT_EQ(Opened(), "");
  EXPECT_TRUE(test::WaitFor([] { return test::ZombieChildren().empty(); }));
}

}  // namespace
}  // namespace wardex::platform
