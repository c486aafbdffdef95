#include "modules/process_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

#include "modules/module_test_env.h"
#include "osal/last_error.h"
#include "platform/child_process_probe.h"
#include "platform/process.h"
#include "platform/system_paths.h"
#include "support/test_env.h"

namespace wardex {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Where the systems differ: how the probe ends once asked to close (its
// window's answer, or SIGTERM) and once ended after the grace time
// (TerminateProcess with 0, or SIGKILL).
#ifdef _WIN32
constexpr uint32_t kClosedCode = 7, kTerminatedCode = 0;
#else
constexpr uint32_t kClosedCode = 128 + SIGTERM, kTerminatedCode = 128 + SIGKILL;
#endif

using test::Narrow;
using test::Wide;

std::string Upper(std::string text) {
  for (char& ch : text) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
  return text;
}

int64_t ElapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
}

// Each test runs a copy of the process probe, "run me <id>", in a folder with
// blanks, and looks for it by that name and path.
class ProcessControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_);
    // With the libraries it links (on Windows they load from its own folder).
    ASSERT_TRUE(test::CopyProgram(PROCESS_PROBE_PATH, path_));
  }
  void TearDown() override {
    EXPECT_TRUE(test::WaitFor([&] { return !Running(); }));
  }

  uint32_t Run(const char16_t* arguments, uint32_t exit_wait_ms,
               const std::atomic<uint8_t>* cancel = nullptr, uint8_t hidden = 0) {
    return RunProgram(Wide(path_).c_str(), arguments, 1000, hidden, exit_wait_ms, cancel);
  }
  // Starts the probe at |path| directly with |arguments|.
  static std::unique_ptr<platform::ChildProcess> Start(const std::string& path,
                                                       const std::string& arguments) {
    return platform::ChildProcess::Start({Wide("\"" + path + "\" " + arguments), u"", true});
  }
  bool Running(uint32_t* id = nullptr) const {
    return IsProcessRunning(Wide(name_), Wide(path_), true, id);
  }

  test::ScopedTestRoot root_;
  const std::string folder_ = (fs::path(root_.path()) / "with blanks").string();
  // Tests run side by side: each has a name of its own.
  const std::string name_ =
      "run me " + std::to_string(platform::CurrentProcessId()) + test::kProgramSuffix;
  const std::string path_ = (fs::path(folder_) / name_).string();
};

TEST_F(ProcessControlTest, QuotesThePathPassesArgumentsAndStartsInItsFolderIfItExists) {
  const struct {
    const char16_t* arguments;
    uint8_t hidden;
    std::vector<std::string> recorded;
  } kCases[] = {
      {nullptr, 0, {}},
      {u"", 1, {}},
      {u"one", 0, {"[one]"}},
      {u"one \"two three\" ", 1, {"[one]", "[two three]"}},
      {u"-x=\"a b\"\\\\", 0, {"[-x=a b\\\\]"}},
  };
  for (const auto& c : kCases) {
    fs::remove(folder_ + "/started");
    EXPECT_EQ(Run(c.arguments, 5000, nullptr, c.hidden), 0u);
    const std::vector<std::string> record = test::ReadLines(folder_ + "/started");
    ASSERT_FALSE(record.empty());
    EXPECT_TRUE(fs::equivalent(record[0], folder_)) << record[0];
    EXPECT_EQ(std::vector(record.begin() + 1, record.end()), c.recorded);
  }
  // The program's own exit code is not the result; a missing one is not started.
  EXPECT_EQ(Run(u"exit 7", 5000), 0u);
  EXPECT_EQ(RunProgram(nullptr, nullptr, 1000, 0, 0, nullptr), KaOSAL::kErrorFileNotFound);
  fs::remove(path_);
  EXPECT_EQ(Run(u"x", 0), KaOSAL::kErrorFileNotFound);
}

TEST_F(ProcessControlTest, WithoutExitWaitReturnsOnceTheProgramRuns) {
  const auto start = Clock::now();
  EXPECT_EQ(Run(u"sleep 30000", 0), 0u);
  // Far below the program's 30 s; a start under Wine on a busy machine took 1.4 s.
  EXPECT_LT(ElapsedMs(start), 10000);
  uint32_t id = 0;
  EXPECT_TRUE(Running(&id));
  EXPECT_NE(id, 0u);
  CloseProcessesByName(Wide(name_), Wide(path_), 0, 0);
}

TEST_F(ProcessControlTest, EndsTheProgramWhenTheWaitElapsesOrIsCancelled) {
  for (const bool cancel_it : {false, true}) {
    std::atomic<uint8_t> cancel{0};
    // Before the canceller starts, whose 200 ms may begin at once.
    const auto start = Clock::now();
    std::thread canceller([&] {
      if (!cancel_it) return;
      std::this_thread::sleep_for(milliseconds(200));
      cancel = 1;
    });
    const uint32_t wait_ms = cancel_it ? 20000 : 300;
    EXPECT_EQ(Run(u"sleep 30000", wait_ms, &cancel), KaOSAL::kErrorServiceProcessAborted);
    const int64_t elapsed = ElapsedMs(start);
    canceller.join();
    // The wait counts whole milliseconds of the tick count, so it may end up to
    // one millisecond before a finer clock says the time is up.
    EXPECT_GE(elapsed, (cancel_it ? 200 : 300) - 1);
    EXPECT_LT(elapsed, 10000);
    // Ended, and never retried through the shell.
    EXPECT_TRUE(test::WaitFor([&] { return !Running(); })) << "still runs";
  }
}

TEST_F(ProcessControlTest, ClosesAllOfThisExecutableWithinOneGraceTimeAndNoOther) {
  const std::string elsewhere = (fs::path(root_.path()) / name_).string();
  ASSERT_TRUE(test::CopyProgram(path_, elsewhere));
  // The file each probe writes once it is ready (-1: the closable one's).
  const auto ready = [&](int i) { return root_.path() + "/ready" + std::to_string(i); };
  const struct {
    int stubborn;  // processes that do not answer
    uint32_t grace_ms;
    int64_t min_ms, max_ms;
  } kCases[] = {
      {0, 5000, 0, 1500},          // closes at once, long before the grace time
      {5, 400, 400 - 1, 2 * 400},  // one grace time for all, not one for each
  };
  for (const auto& c : kCases) {
    for (int i = -1; i < c.stubborn; ++i) fs::remove(ready(i));
    auto closing = Start(path_, "closable \"" + ready(-1) + "\"");
    std::vector<std::unique_ptr<platform::ChildProcess>> stubborn;
    for (int i = 0; i < c.stubborn; ++i)
      stubborn.push_back(Start(path_, "stubborn \"" + ready(i) + "\""));
    auto other_installation = Start(elsewhere, "sleep 30000");
    ASSERT_TRUE(closing && other_installation);
    for (int i = -1; i < c.stubborn; ++i) {
      ASSERT_TRUE(test::WaitFor([&] { return fs::exists(ready(i)); }, std::chrono::seconds(30)));
    }
    const auto start = Clock::now();
    // Upper case: names and paths match without regard to case.
    CloseProcessesByName(Wide(Upper(name_)), Wide(Upper(path_)), 1, c.grace_ms);
    const int64_t elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, c.min_ms);
    EXPECT_LT(elapsed, c.max_ms);
    ASSERT_TRUE(closing->WaitForExit(30000));
    EXPECT_EQ(closing->ExitCode(), kClosedCode);
    for (const auto& process : stubborn) {
      ASSERT_TRUE(process && process->WaitForExit(30000));
      EXPECT_EQ(process->ExitCode(), kTerminatedCode);
    }
    EXPECT_EQ(other_installation->ExitCode(), platform::kStillActive)
        << "another installation's process was closed";
    ASSERT_TRUE(other_installation->Terminate(1));
  }
}

TEST_F(ProcessControlTest, FindsAProcessByNameAndPath) {
  auto process = Start(path_, "sleep 30000");
  ASSERT_NE(process, nullptr);
  const uint32_t id = process->id();
  const struct {
    std::vector<ProcessFilter::Image> images;
    size_t count;
  } kCases[] = {
      {{{Wide(name_), u""}}, 1},
      {{{Wide(name_), Wide(path_)}}, 1},
      {{{Wide(name_), Wide(root_.path() + "/other")}}, 0},
      {{{Wide(name_), u""}, {Wide(name_), Wide(path_)}}, 2},  // once for each image
      {{{Wide(name_ + "x"), u""}}, 0},
  };
  for (const auto& c : kCases) {
    const std::vector<ProcessEntry> found = FindProcesses({.images = c.images});
    ASSERT_EQ(found.size(), c.count);
    for (const ProcessEntry& entry : found) {
      EXPECT_EQ(entry.process_id, id);
      EXPECT_EQ(Narrow(entry.image_name), name_);
      EXPECT_TRUE(fs::equivalent(Narrow(entry.image_path), path_));
    }
  }
#ifndef _WIN32
  // An update replaces the file of a running program; Windows refuses that.
  ASSERT_EQ(unlink(path_.c_str()), 0);
  for (const auto& [path, count] : {std::pair{path_, 1u}, {path_ + " (deleted)", 0u}}) {
    EXPECT_EQ(FindProcesses({.images = {{Wide(name_), Wide(path)}}}).size(), count) << path;
  }
#endif

  uint32_t running_id = 0;
  EXPECT_TRUE(IsProcessRunning(Wide(name_), u"", true, &running_id));
  EXPECT_EQ(running_id, id);
  ASSERT_TRUE(process->Terminate(1));
  // Ended, and once no longer held, gone from the snapshot.
  EXPECT_TRUE(test::WaitFor([&] { return !IsProcessRunning(Wide(name_), u"", true, nullptr); }));
  process.reset();
  EXPECT_TRUE(test::WaitFor([&] {
    running_id = 0;
    return !IsProcessRunning(Wide(name_), u"", true, &running_id) && running_id == 0;
  }));
}

TEST(FindProcessesTest, ExcludesTheCallerOnlyWhenAsked) {
  const KaOSAL::KaString path = platform::GetExecutableFilePath();
  const KaOSAL::KaString name = Wide(fs::path(Narrow(path)).filename().string());
  const uint32_t self = platform::CurrentProcessId();
  for (const bool exclude : {false, true}) {
    bool has_self = false;
    for (const ProcessEntry& entry :
         FindProcesses({.images = {{name, path}}, .exclude_self = exclude})) {
      has_self |= entry.process_id == self;
    }
    EXPECT_EQ(has_self, !exclude);
  }
  uint32_t id = 0;
  EXPECT_TRUE(IsProcessRunning(name, path, false, &id));
  EXPECT_NE(id, 0u);
}

#ifndef _WIN32
TEST_F(ProcessControlTest, WhatCannotBeStartedIsOpenedThroughTheShellOnce) {
  const test::FakeOpener opener{root_};
  fs::remove(path_);
  EXPECT_EQ(Run(nullptr, 0), KaOSAL::kErrorFileNotFound);
  EXPECT_EQ(opener.TakeOpened(), "") << "a missing program is not opened";
  const std::string document = folder_ + "/read me.txt";
  ASSERT_TRUE(test::WriteFile(document, "text"));
  EXPECT_EQ(RunProgram(Wide(document).c_str(), nullptr, 1000, 0, 5000, nullptr), 0u);
  EXPECT_EQ(opener.TakeOpened(), document + "|" + folder_);  // opened in its folder

  // With arguments the shell is given a command line that names no file.
  EXPECT_EQ(RunProgram(Wide(document).c_str(), u"arg", 1000, 0, 0, nullptr),
            KaOSAL::kErrorAccessDenied);
  EXPECT_EQ(opener.TakeOpened(), "");
  EXPECT_TRUE(test::WaitFor([] { return test::ZombieChildren().empty(); }));
}
#endif

}  // namespace
}  // namespace wardex
