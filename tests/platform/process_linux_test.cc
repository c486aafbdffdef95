// Processes on Linux beyond the neutral cases: what a started program gets
// from the agent (signal mask and dispositions, hidden streams), the reaping
// of children, and the opener for documents and links.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "osal/last_error.h"
#include "platform/child_process_probe.h"

namespace wardex::platform {
namespace {

KaOSAL::KaString Wide(const std::string& text) {
  return KaOSAL::KaString(text.c_str(), KaOSAL::KA_CP_UTF8);
}

std::string CurrentFolder() {
  char folder[4096] = {};
  return getcwd(folder, sizeof(folder)) != nullptr ? folder : "";
}

// Starts "/bin/sh" -c |script| and waits for its end; returns its exit code.
uint32_t RunShell(const std::string& script, bool hidden = false) {
  auto child = ChildProcess::Start({Wide("\"/bin/sh\" -c \"" + script + "\""), u"", hidden});
  if (child == nullptr) return 0xDEAD;
  return child->WaitForExit(kInfinite) ? child->ExitCode() : kStillActive;
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

TEST(ChildProcessTest, HiddenHasNoOutput) {
  test::ScopedTestRoot root;
  const std::string out = root.path() + "/stdout";
  ASSERT_EQ(RunShell("readlink /proc/$$/fd/0 /proc/$$/fd/2 > " + out, /*hidden=*/true), 0u);
  // The shell redirects its own output for a moment; its input and errors show.
  EXPECT_EQ(test::ReadLine(out), "/dev/null\n/dev/null");
}

TEST(ChildProcessTest, EveryChildIsReaped) {
  KaOSAL::SetLastError(0);
  EXPECT_EQ(ChildProcess::Start({u"\"/no such program\"", u"", false}), nullptr);
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

// A fake xdg-open first in PATH that records its arguments and folder and
// exits with the code in the file "opener-exit" beside it (0 without one).
class ShellOpenerTest : public ::testing::Test {
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

TEST_F(ShellOpenerTest, HandsDocumentsFoldersAndLinksToTheOpener) {
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

TEST_F(ShellOpenerTest, FailsForQuotedArgumentsAndRefusals) {
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

}  // namespace
}  // namespace wardex::platform
