// Processes on both systems, started through the probe program: start and
// its failures, the channel, exit codes and termination, other processes
// held by handle, and the shell's open of a program.
#include "platform/process.h"

#ifdef _WIN32
#include "platform/windows_api.h"
#else
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/child_process_probe.h"
#include "platform/command_line.h"

namespace wardex::platform {
namespace {

namespace fs = std::filesystem;

KaOSAL::KaString Wide(const std::string& text) { return {text.c_str(), KaOSAL::KA_CP_UTF8}; }

std::string Narrow(const KaOSAL::KaString& text) { return KaOSAL::ToUtf8(text.c_str()); }

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The probe's command line with |arguments|.
KaOSAL::KaString Probe(const std::string& arguments) {
  return Wide(Quoted(test::HelperProgram("process_probe")) + " " + arguments);
}

// Ends a probe that a failed assertion left running.
struct EndedAtScopeExit {
  ~EndedAtScopeExit() {
    if (child != nullptr && child->ExitCode() == kStillActive) (void)child->Terminate(1);
  }
  const std::unique_ptr<ChildProcess>& child;
};

// A pipe's ends, both inheritable as a careless library leaves them, to see
// which of them a started program holds.
#ifdef _WIN32
using PipeEnd = HANDLE;
bool OpenPipe(PipeEnd ends[2]) {
  SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
  return CreatePipe(&ends[0], &ends[1], &inherited, 0);
}
void CloseEnd(PipeEnd end) { CloseHandle(end); }
intptr_t ValueOf(PipeEnd end) { return reinterpret_cast<intptr_t>(end); }
std::string ReadSome(PipeEnd end) {
  char text[16];
  DWORD got = 0;
  return ReadFile(end, text, sizeof(text), &got, nullptr) ? std::string(text, got) : "";
}
bool WriterGone(PipeEnd end) {
  return !PeekNamedPipe(end, nullptr, 0, nullptr, nullptr, nullptr) &&
         ::GetLastError() == ERROR_BROKEN_PIPE;
}
#else
using PipeEnd = int;
bool OpenPipe(PipeEnd ends[2]) { return pipe(ends) == 0; }
void CloseEnd(PipeEnd end) { close(end); }
intptr_t ValueOf(PipeEnd end) { return end; }
std::string ReadSome(PipeEnd end) {
  char text[16];
  const ssize_t got = read(end, text, sizeof(text));
  return got > 0 ? std::string(text, static_cast<size_t>(got)) : "";
}
bool WriterGone(PipeEnd end) {
  pollfd entry{end, POLLIN, 0};
  return poll(&entry, 1, 0) == 1 && (entry.revents & POLLHUP) != 0;
}
#endif

// Finds the snapshot entry of |id| in a snapshot sorted by id.
bool SnapshotEntryOf(uint32_t id, ProcessSnapshotEntry& found) {
  std::vector<ProcessSnapshotEntry> entries;
  if (!TakeProcessSnapshot(entries)) return false;
  bool listed = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0 && entries[i - 1].id >= entries[i].id) return false;
    if (entries[i].id == id) {
      found = entries[i];
      listed = true;
    }
  }
  return listed;
}

TEST(SplitCommandLineTest, FollowsTheWindowsRules) {
  const std::pair<const char*, std::vector<std::string>> kCases[] = {
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
  for (const auto& [line, args] : kCases) {
    std::vector<std::string> got;
    for (const KaOSAL::KaString& arg : SplitCommandLine(Wide(line))) got.push_back(Narrow(arg));
    EXPECT_EQ(got, args) << line;
  }
}

// The working folder and the arguments are the process control tests' (a
// program started there with quoted arguments).
TEST(ChildProcessTest, ReportsExitCodes) {
  for (const uint32_t code : {0u, 3u, 255u}) {
    auto child = ChildProcess::Start({Probe("exit " + std::to_string(code)), u"", true});
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(child->WaitForExit(30000));
    EXPECT_EQ(child->ExitCode(), code);
  }
}

TEST(ChildProcessTest, StartFailuresCarryTheErrorCode) {
  test::ScopedTestRoot root;
  const std::string garbage = root.path() + "/garbage" + test::kProgramSuffix;
  ASSERT_TRUE(test::WriteFile(garbage, "\x01\x02\x03 not a program"));
  fs::permissions(garbage, fs::perms::owner_all, fs::perm_options::add);
  const std::string plain = root.path() + "/plain.txt";
  ASSERT_TRUE(test::WriteFile(plain, "text"));
  const std::tuple<std::string, std::string, uint32_t> kCases[] = {
      {Quoted(root.path() + "/missing" + test::kProgramSuffix), "", KaOSAL::kErrorFileNotFound},
      {Quoted(garbage), "", 193},
      {Narrow(Probe("exit 0")), root.path() + "/no such folder", KaOSAL::kErrorFileNotFound},
      {"", "", KaOSAL::kErrorInvalidParameter},
#ifndef _WIN32
      // Windows has no execute permission of its own to refuse.
      {Quoted(plain), "", KaOSAL::kErrorAccessDenied},
      {Quoted(root.path()), "", KaOSAL::kErrorAccessDenied},
#endif
  };
  for (const auto& [command_line, folder, error] : kCases) {
    KaOSAL::SetLastError(0);
    EXPECT_EQ(ChildProcess::Start({Wide(command_line), Wide(folder), false}), nullptr)
        << command_line;
    EXPECT_EQ(KaOSAL::GetLastError(), error) << command_line;
  }
}

TEST(ChildProcessTest, InheritsItsChannelAndNoOtherHandle) {
  PipeEnd channel[2], other[2];
  ASSERT_TRUE(OpenPipe(channel) && OpenPipe(other));
  const intptr_t value = ValueOf(channel[1]);
  auto child = ChildProcess::Start(
      {Probe("channel " + std::to_string(value)), u"", true, NativeHandle{value}});
  CloseEnd(channel[1]);
  CloseEnd(other[1]);
  ASSERT_NE(child, nullptr);
  EndedAtScopeExit ended{child};
  EXPECT_EQ(ReadSome(channel[0]), "through");
  EXPECT_EQ(child->ExitCode(), kStillActive) << "the probe holds its channel for a minute";
  EXPECT_TRUE(WriterGone(other[0])) << "the other pipe's write end was inherited";
  CloseEnd(channel[0]);
  CloseEnd(other[0]);
}

TEST(ChildProcessTest, TerminateGivesTheCodeOnceAndNotToAnEndedChild) {
  auto child = ChildProcess::Start({Probe("sleep 30000"), u"", true});
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->ExitCode(), kStillActive);
  EXPECT_FALSE(child->WaitForExit(100));
  ASSERT_TRUE(child->Terminate(0xFFFFFFFF));
  ASSERT_TRUE(child->WaitForExit(30000));
  EXPECT_EQ(child->ExitCode(), 0xFFFFFFFFu);
  KaOSAL::SetLastError(0);
  EXPECT_FALSE(child->Terminate(43));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorAccessDenied);
  EXPECT_EQ(child->ExitCode(), 0xFFFFFFFFu);
}

// Asking a process to close, and ending one that does not answer, are the
// process control tests' (a program's processes closed within a grace time).
TEST(ProcessHandleTest, OpensOnlyTheProcessOfTheSnapshot) {
  auto child = ChildProcess::Start({Probe("sleep 30000"), u"", false});
  ASSERT_NE(child, nullptr);
  EndedAtScopeExit ended{child};
  ProcessSnapshotEntry entry;
  ASSERT_TRUE(SnapshotEntryOf(child->id(), entry));
  EXPECT_GT(entry.start_time, 0u);
  ProcessSnapshotEntry later = entry;  // the same id, started at another time
  later.start_time += 1;
  KaOSAL::SetLastError(0);
  EXPECT_EQ(ProcessHandle::Open(later), nullptr);
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidParameter);

  auto process = ProcessHandle::Open(entry);
  ASSERT_NE(process, nullptr);
  EXPECT_FALSE(process->HasEnded());
  ASSERT_TRUE(process->Terminate());
  ASSERT_TRUE(child->WaitForExit(30000));
  EXPECT_TRUE(process->HasEnded());
  EXPECT_FALSE(process->Terminate());
  // Once we hold it no more, its entry opens no running process: none at all,
  // or the ended one while the system still holds it (Windows may).
  process.reset();
  child.reset();
  KaOSAL::SetLastError(0);
  const auto again = ProcessHandle::Open(entry);
  EXPECT_TRUE(again == nullptr ? KaOSAL::GetLastError() == KaOSAL::kErrorInvalidParameter
                               : again->HasEnded());
}

#ifndef _WIN32
// Wine runs every program as one user.
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
#endif

TEST(ShellOpenTest, StartsAProgramInTheFolderAndFailsForAMissingTarget) {
  test::ScopedTestRoot root;
  KaOSAL::SetLastError(0);
  EXPECT_FALSE(ShellOpen(Wide(Quoted(root.path() + "/missing.txt")), u""));
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorFileNotFound);

  // The probe records where it ran.
  ASSERT_TRUE(ShellOpen(Wide(Quoted(test::HelperProgram("process_probe"))), Wide(root.path())));
  EXPECT_TRUE(test::WaitFor([&] { return !test::ReadLines(root.path() + "/started").empty(); },
                            std::chrono::seconds(30)));
}

#ifndef _WIN32
// Linux beyond the neutral cases: what a started program gets from the agent
// (signal mask and dispositions, hidden streams), the reaping of children,
// and the opener for documents and links.

// What a started program gets from the agent: no blocked or ignored signal,
// and when hidden, no input and no errors.
TEST(ChildProcessTest, ResetsTheSignalMaskAndDispositionsAndHiddenHasNoStreams) {
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
  // The shell redirects its own output for a moment; its input and errors show.
  auto child =
      ChildProcess::Start({Wide("\"/bin/sh\" -c \"readlink /proc/$$/fd/0 /proc/$$/fd/2 > " + out +
                                "; exec grep ^Sig[BI] /proc/self/status >> " + out + "\""),
                           u"", /*hidden=*/true});
  sigaction(SIGUSR1, &saved, nullptr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(child != nullptr && child->WaitForExit(30000));
  EXPECT_EQ(child->ExitCode(), 0u);
  EXPECT_EQ(test::ReadFile(out),
            "/dev/null\n/dev/null\nSigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST(ChildProcessTest, EveryChildIsReaped) {
  EXPECT_EQ(ChildProcess::Start({u"\"/no such program\"", u"", false}), nullptr);
  // Handles dropped while their children run: the reaper takes them.
  std::vector<pid_t> ids;
  for (int i = 0; i < 5; ++i) {
    auto running = ChildProcess::Start({u"\"/bin/sleep\" 0.2", u"", false});
    ASSERT_NE(running, nullptr);
    ids.push_back(static_cast<pid_t>(running->id()));
  }
  // A zombie answers a signal too.
  EXPECT_TRUE(test::WaitFor([&] {
    return std::none_of(ids.begin(), ids.end(), [](pid_t id) { return kill(id, 0) == 0; });
  }));
  EXPECT_TRUE(test::ZombieChildren().empty());
}

// Documents, folders and links go to the opener; a quoted path followed by
// arguments names no file; the opener's refusal is the open's failure.
TEST(ShellOpenerTest, HandsDocumentsFoldersAndLinksToTheOpenerAndTellsItsRefusal) {
  test::ScopedTestRoot root;
  const test::FakeOpener opener(root);
  const std::string doc = root.path() + "/a doc.txt";
  ASSERT_TRUE(test::WriteFile(doc, "text"));
  const std::string here = fs::current_path().string();
  // target, folder, the opener's exit code, the open's error, what the opener got
  const std::tuple<std::string, std::string, const char*, uint32_t, std::string> kCases[] = {
      {doc, "", "0", 0, doc + "|" + here},
      {"\"" + doc + "\"", root.path(), "0", 0, doc + "|" + root.path()},
      {"a doc.txt", root.path(), "0", 0, doc + "|" + root.path()},
      {root.path(), "", "0", 0, root.path() + "|" + here},
      {"https://127.0.0.1/x", "", "0", 0, "https://127.0.0.1/x|" + here},
      {"mailto:someone@example.invalid", "", "0", 0, "mailto:someone@example.invalid|" + here},
      {"\"" + doc + "\" arg", "", "0", KaOSAL::kErrorFileNotFound, ""},
      {doc, "", "3", 1155, doc + "|" + here},
  };
  for (const auto& [target, folder, opener_exit, error, opened] : kCases) {
    ASSERT_TRUE(opener.ExitWith(opener_exit));
    KaOSAL::SetLastError(0);
    EXPECT_EQ(ShellOpen(Wide(target), Wide(folder)), error == 0) << target;
    EXPECT_EQ(KaOSAL::GetLastError(), error) << target;
    EXPECT_EQ(opener.TakeOpened(), opened) << target;
  }
  EXPECT_TRUE(test::ZombieChildren().empty());
}
#endif

}  // namespace
}  // namespace wardex::platform
