#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_test_util.h"
#include "support/test_env.h"
#include "wardex/crashlog.h"

namespace wardex::test {
namespace {

constexpr char16_t kComputerId[] = u"TEST-COMPUTER-42";
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Real faults, kept from the undefined-behaviour sanitizer, which would
// report them before the hardware does.
__attribute__((no_sanitize("undefined"))) void WriteToNull() {
  *static_cast<volatile int*>(nullptr) = 1;
}
__attribute__((no_sanitize("undefined"))) void DivideByZero() {
  // Both volatile: 1 / x alone compiles to compares, without a division.
  volatile int dividend = 7;
  volatile int zero = 0;
  volatile int result = dividend / zero;
  (void)result;
}
// Recursion deeper than any stack: overflows it, so the report must be
// written on the alternate stack.
volatile int g_recursion_limit = 1 << 30;
__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth >= g_recursion_limit) return frame[0];
  return Recurse(depth + 1) + frame[0];
}
void ReadPastEndOfFile(const std::string& folder) {
  const std::string path = folder + "/empty";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  auto* mapped = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
  (void)mapped[0];
}

// The sanitizers install their own handlers; a test starts from the default.
void DefaultDispositions() {
  for (int signal_number : kFatalSignals) signal(signal_number, SIG_DFL);
}

class CrashHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("WARDEX_LOG_FILE");
    setenv("WARDEX_LOG_JOURNAL", "0", 1);
  }
  void TearDown() override { unsetenv("WARDEX_LOG_JOURNAL"); }
  std::string LogFolder() const { return root_.state_home() + "/wardex/log"; }

  ScopedTestRoot root_;
};

TEST_F(CrashHandlerTest, FatalSignalWritesReportAndProcessDiesOfIt) {
  struct Case {
    int signal_number;
    std::string heading;
    std::function<void()> fault;
    std::string extra;  // a further line the report must hold
  };
  const std::vector<Case> cases = {
      {SIGSEGV, "Signal: 11 (SIGSEGV), code 1", WriteToNull, "Fault address: 0x0000000000000000"},
      {SIGFPE, "Signal: 8 (SIGFPE), code 1", DivideByZero, "Fault address: 0x"},
      {SIGILL, "Signal: 4 (SIGILL)", [] { __builtin_trap(); }, "Fault address: 0x"},
      {SIGBUS, "Signal: 7 (SIGBUS), code 2", [&] { ReadPastEndOfFile(root_.path()); },
       "Fault address: 0x"},
      {SIGABRT, "Signal: 6 (SIGABRT)", [] { abort(); }, "Fault address: 0x"},
      {SIGSEGV, "Signal: 11 (SIGSEGV), code", [] { Recurse(0); }, "Instruction: 0x"},
  };
  for (const Case& c : cases) {
    const ChildResult child = RunInChild([&] {
      DefaultDispositions();
      SetComputerId(kComputerId);
      InstallCrashHandler();
      c.fault();
    });
    EXPECT_TRUE(child.DiedOf(c.signal_number)) << c.heading << " status " << child.status;
    const std::string report = ReadReports(LogFolder(), child.pid);
    EXPECT_NE(report.find("Wardex crash report: "), std::string::npos) << c.heading;
    for (const std::string& expected :
         {c.heading, c.extra, std::string("Computer: TEST-COMPUTER-42\n"),
          "Process: " + std::to_string(child.pid) + "\n",
          "Thread: " + std::to_string(child.pid) + "\n", std::string("Backtrace:\n")}) {
      EXPECT_NE(report.find(expected), std::string::npos) << expected << " missing in\n" << report;
    }
    // backtrace_symbols_fd names the library's frames.
    EXPECT_NE(report.find("libcrashlog.so"), std::string::npos) << report;
  }
}

// A structured-exception guard of the platform layer, as the crash handler
// meets it: handles a fault inside its region by jumping back, else chains.
sigjmp_buf g_guard_jump;
volatile sig_atomic_t g_guard_active = 0;
struct sigaction g_guard_previous;
int g_guard_trace = -1;  // a pipe: one 'G' per call of the guard's handler

void GuardHandler(int signal_number, siginfo_t* info, void* context) {
  (void)!write(g_guard_trace, "G", 1);
  if (g_guard_active) siglongjmp(g_guard_jump, 1);
  if (g_guard_previous.sa_flags & SA_SIGINFO && g_guard_previous.sa_sigaction != nullptr) {
    g_guard_previous.sa_sigaction(signal_number, info, context);
  }
}

void InstallGuard() {
  struct sigaction guard {};
  guard.sa_sigaction = GuardHandler;
  guard.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&guard.sa_mask);
  sigaction(SIGSEGV, &guard, &g_guard_previous);
}

TEST_F(CrashHandlerTest, ChainsWithAStructuredExceptionGuard) {
  struct Case {
    std::string name;
    bool guard_first;
    bool guarded;
    bool remove;
    bool install_twice;
    bool dies;
    bool report;
  };
  const std::vector<Case> cases = {
      {"guard below, fault in guard", true, true, false, false, false, false},
      {"guard below, fault outside", true, false, false, false, true, true},
      {"guard on top, fault in guard", false, true, false, false, false, false},
      {"guard on top, fault outside", false, false, false, false, true, true},
      {"guard on top, crash handler removed", false, false, true, false, true, false},
      {"crash handler installed twice", true, false, false, true, true, true},
  };
  for (const Case& c : cases) {
    int trace[2];
    ASSERT_EQ(pipe(trace), 0);
    const ChildResult child = RunInChild([&] {
      DefaultDispositions();
      g_guard_trace = trace[1];
      if (c.guard_first) InstallGuard();
      InstallCrashHandler();
      if (c.install_twice) InstallCrashHandler();
      if (!c.guard_first) InstallGuard();
      if (c.remove) RemoveCrashHandler();
      g_guard_active = c.guarded;
      if (sigsetjmp(g_guard_jump, 1) == 0) WriteToNull();
      _exit(42);  // back in the guard, process alive
    });
    close(trace[1]);
    char calls[8];
    const ssize_t count = read(trace[0], calls, sizeof(calls));
    close(trace[0]);
    EXPECT_EQ(count, 1) << c.name << ": the guard must see the fault exactly once";
    EXPECT_TRUE(c.dies ? child.DiedOf(SIGSEGV) : child.ExitedWith(42))
        << c.name << " status " << child.status;
    const std::string report = ReadReports(LogFolder(), child.pid);
    if (c.report) {
      EXPECT_NE(report.find("Signal: 11 (SIGSEGV)"), std::string::npos) << c.name;
      EXPECT_EQ(report.find("Wardex crash report"), report.rfind("Wardex crash report"))
          << c.name << ": expected exactly one report\n"
          << report;
    } else {
      EXPECT_EQ(report, "") << c.name;
    }
  }
}

void SentinelHandler(int, siginfo_t*, void*) {}

TEST_F(CrashHandlerTest, InstallTwiceIsHarmlessAndRemoveRestoresPreviousHandlers) {
  struct sigaction original[std::size(kFatalSignals)];
  struct sigaction sentinel {};
  sentinel.sa_sigaction = SentinelHandler;
  sentinel.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&sentinel.sa_mask);
  for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
    sigaction(kFatalSignals[i], &sentinel, &original[i]);
  }
  auto expect_sentinel = [&](bool is_sentinel, const char* when) {
    for (int signal_number : kFatalSignals) {
      struct sigaction current {};
      sigaction(signal_number, nullptr, &current);
      if (is_sentinel) {
        EXPECT_EQ(current.sa_sigaction, SentinelHandler) << when << ", signal " << signal_number;
        EXPECT_EQ(current.sa_flags & (SA_RESTART | SA_ONSTACK), SA_RESTART) << when;
      } else {
        EXPECT_NE(current.sa_sigaction, SentinelHandler) << when << ", signal " << signal_number;
        EXPECT_TRUE(current.sa_flags & SA_ONSTACK) << when << ", signal " << signal_number;
      }
    }
  };
  InstallCrashHandler();
  EXPECT_FALSE(std::filesystem::exists(LogFolder())) << "installing wrote the log's folder";
  InstallCrashHandler();
  expect_sentinel(false, "installed twice");
  RemoveCrashHandler();
  expect_sentinel(true, "removed");
  RemoveCrashHandler();
  expect_sentinel(true, "removed twice");
  for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
    sigaction(kFatalSignals[i], &original[i], nullptr);
  }
}

TEST_F(CrashHandlerTest, WorkerExceptionFilterLogsOneLineAndExecutesTheHandler) {
  const std::string log_path = root_.path() + "/own/worker.log";
  setenv("WARDEX_LOG_FILE", log_path.c_str(), 1);
  SetComputerId(kComputerId);
  const std::string long_name(300, 'n');
  struct Case {
    bool has_record;
    WardexExceptionRecord record;
    const char* name;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {true,
       {0xC0000005, reinterpret_cast<void*>(0x1234), 11, 1},
       "Exception Test",
       R"(Worker thread "Exception Test": exception 0xC0000005 at 0x0000000000001234 (signal 11, code 1))"},
      {true,
       {0xC0000096, reinterpret_cast<void*>(0x7f00deadbeef), 11, 128},
       "Newsfeed",
       R"(Worker thread "Newsfeed": exception 0xC0000096 at 0x00007F00DEADBEEF (signal 11, code 128))"},
      {true,
       {0xE06D7363, nullptr, 0, 0},
       "Raised",
       R"(Worker thread "Raised": exception 0xE06D7363 at 0x0000000000000000)"},
      {true,
       {0x1, nullptr, 0, 0},
       long_name.c_str(),
       "Worker thread \"" + long_name.substr(0, 255) +
           "\": exception 0x00000001 at 0x0000000000000000"},
      {true,
       {0xC0000005, nullptr, 0, 0},
       nullptr,
       R"(Worker thread "": exception 0xC0000005 at 0x0000000000000000)"},
      {false, {}, "No Record", R"(Worker thread "No Record": exception without a record)"},
  };
  for (const Case& c : cases) {
    WardexExceptionRecord record = c.record;
    WardexExceptionPointers pointers{c.has_record ? &record : nullptr, nullptr};
    EXPECT_EQ(WorkerExceptionFilter(&pointers, c.name), kExceptionExecuteHandler);
  }
  const std::vector<std::string> lines = ReadLines(log_path);
  ASSERT_EQ(lines.size(), cases.size());
  const std::string reports = ReadReports(root_.path() + "/own", getpid());
  for (size_t i = 0; i < cases.size(); ++i) {
    std::optional<LogLine> line = ParseLogLine(lines[i]);
    ASSERT_TRUE(line) << lines[i];
    EXPECT_EQ(line->level, kLogError);
    EXPECT_EQ(line->text, cases[i].expected);
    EXPECT_NE(reports.find(cases[i].expected + "\n"), std::string::npos) << cases[i].expected;
  }
  EXPECT_NE(reports.find("Computer: TEST-COMPUTER-42\n"), std::string::npos) << reports;
  unsetenv("WARDEX_LOG_FILE");
}

void Throw() { throw std::runtime_error("boom"); }
void (*volatile g_throw)() = Throw;
void ThrowThroughNoexcept() noexcept { g_throw(); }

TEST_F(CrashHandlerTest, TerminateHandlerLogsReportsAndAborts) {
  const std::string log_path = root_.path() + "/own/terminate.log";
  setenv("WARDEX_LOG_FILE", log_path.c_str(), 1);
  const ChildResult child = RunInChild([] {
    signal(SIGABRT, SIG_DFL);
    SetTerminateExceptionHandler();
    ThrowThroughNoexcept();
  });
  unsetenv("WARDEX_LOG_FILE");
  EXPECT_TRUE(child.DiedOf(SIGABRT)) << child.status;
  const std::string expected = "Terminate in thread " + std::to_string(child.pid) +
                               ": uncaught exception std::runtime_error: boom";
  const std::vector<std::string> lines = ReadLines(log_path);
  ASSERT_EQ(lines.size(), 1u);
  std::optional<LogLine> line = ParseLogLine(lines[0]);
  ASSERT_TRUE(line) << lines[0];
  EXPECT_EQ(line->level, kLogError);
  EXPECT_EQ(line->text, expected);
  EXPECT_NE(ReadReports(root_.path() + "/own", child.pid).find(expected + "\n"), std::string::npos);
}

}  // namespace
}  // namespace wardex::test
