// The main frame's creation sequence when the shell refuses the tray icon.
//
// The frame reads its retry wait from install.cfg beside the program, so each
// case runs a copy of this test program from a folder of its own, with an
// install.cfg that shortens the wait; the copy creates one frame over the
// test shell and writes what it saw to a file.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/main_frame.h"
#include "platform/shell.h"
#include "platform/test_shell.h"
#include "platform/ui.h"
#include "support/test_env.h"

extern char** environ;

namespace wardex {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr char kChildVariable[] = "WARDEX_FRAME_TEST_REFUSALS";
constexpr char kResultVariable[] = "WARDEX_FRAME_TEST_RESULT";
constexpr int kRetryWaitMs = 20;

// In the copy: one frame over a test shell that refuses the first |refusals|
// adds; what it saw goes to |result_path|. The exit status is 0 when written.
int RunFrameInCopy(int refusals, const char* result_path) {
  platform::MessageLoop loop;
  auto shell = std::make_shared<platform::TestShell>();
  platform::SetShellBackend(shell);
  shell->RefuseAdds(refusals);
  const auto start = std::chrono::steady_clock::now();
  std::string result;
  {
    CMainFrame frame;
    const bool created = frame.Register() != nullptr;
    const auto elapsed =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    int adds = 0;
    for (const platform::TestShell::Call& call : shell->calls()) {
      adds += call.message == platform::NIM_ADD ? 1 : 0;
    }
    platform::NOTIFYICONDATAW icon{};
    result = "created=" + std::to_string(created) + " adds=" + std::to_string(adds) +
             " icon=" + std::to_string(shell->FindIcon(platform::IDR_MAINFRAME, &icon)) +
             " elapsed=" + std::to_string(elapsed.count());
    static_cast<void>(frame.Destroy());
  }
  platform::SetShellBackend(nullptr);
  return test::WriteFile(result_path, result) ? 0 : 1;
}

struct ChildResult {
  int created = -1;
  int adds = -1;
  int icon = -1;
  long elapsed_ms = -1;
};

// Runs the copy of this program in |folder| for |refusals|.
bool RunChild(const std::string& folder, int refusals, ChildResult* result) {
  const std::string program = folder + "/main_frame_tests";
  const std::string result_path = folder + "/result.txt";
  setenv(kChildVariable, std::to_string(refusals).c_str(), 1);
  setenv(kResultVariable, result_path.c_str(), 1);
  setenv("WARDEX_LOG_FILE", (folder + "/wardex.log").c_str(), 1);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (folder + "/output.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  unsetenv(kChildVariable);
  unsetenv(kResultVariable);
  unsetenv("WARDEX_LOG_FILE");
  int status = 0;
  if (error != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return false;
  }
  const std::string text = test::ReadFile(result_path);
  return std::sscanf(text.c_str(), "created=%d adds=%d icon=%d elapsed=%ld", &result->created,
                     &result->adds, &result->icon, &result->elapsed_ms) == 4;
}

TEST(TrayIconRetryTest, RefusedAddIsRetriedTwentyTimesAndTheSequenceGoesOn) {
  struct Case {
    int refusals;
    int adds;   // tries in all: the first and up to 20 retries
    bool icon;  // the icon is there in the end
  };
  const Case cases[] = {
      {0, 1, true}, {3, 4, true}, {20, 21, true}, {21, 21, false}, {50, 21, false}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.refusals);
    test::ScopedTestRoot root;
    const std::string folder = root.path() + "/app";
    fs::create_directories(folder);
    fs::copy_file(fs::read_symlink("/proc/self/exe"), folder + "/main_frame_tests");
    ASSERT_TRUE(test::WriteFile(folder + "/install.cfg",
                                "[Waits]\nTrayIconRetryMs=" + std::to_string(kRetryWaitMs) + "\n"));
    ChildResult result;
    ASSERT_TRUE(RunChild(folder, test.refusals, &result))
        << test::ReadFile(folder + "/output.txt") << test::ReadFile(folder + "/wardex.log");
    EXPECT_EQ(result.created, 1);
    EXPECT_EQ(result.adds, test.adds);
    EXPECT_EQ(result.icon, test.icon ? 1 : 0);
    // A wait before each retry, none before the first try.
    EXPECT_GE(result.elapsed_ms, static_cast<long>(test.adds - 1) * kRetryWaitMs);
    const std::string log = test::ReadFile(folder + "/wardex.log");
    EXPECT_NE(log.find("Tray ### Create TrayIcon"), std::string::npos);
    EXPECT_NE(log.find("Tray ### On Create MainFrame done"), std::string::npos);
  }
}

}  // namespace
}  // namespace wardex

// The copy runs the frame instead of the tests.
int main(int argc, char** argv) {
  if (const char* refusals = std::getenv(wardex::kChildVariable)) {
    return wardex::RunFrameInCopy(std::atoi(refusals), std::getenv(wardex::kResultVariable));
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
