// The crash handler: a probe fails in each way a process can, in a forked
// child on Linux and in the probe program beside the tests on Windows; the
// worker threads' exception filter; on Linux, the handlers it found.
#if defined(_WIN32)
// clang-format off
#include <windows.h>
#include <dbghelp.h>
// clang-format on
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "crash_probe.h"
#include "log_test_util.h"
#include "platform/process.h"
#include "support/test_env.h"
#include "wardex/crashlog.h"

namespace wardex::test {
namespace {

// A probe that ended: on Linux, |ending| is the signal it died of (256 + the
// exit code when it exited); on Windows, its exit code.
struct Ended {
  int64_t pid = 0;
  int64_t main_thread = 0;
  int64_t ending = -1;
};

#if defined(_WIN32)
// All at once: a minidump takes a few seconds under Wine. Each probe writes
// its main thread's id to its output in |folder| first.
std::vector<Ended> RunProbes(const std::vector<std::string>& faults, const std::string& folder) {
  std::vector<std::unique_ptr<ChildProgram>> probes;
  for (size_t i = 0; i < faults.size(); ++i) {
    probes.push_back(std::make_unique<ChildProgram>(
        HelperProgram("crash_probe"), std::vector{faults[i]}, folder + std::to_string(i)));
  }
  std::vector<Ended> ended;
  for (size_t i = 0; i < faults.size(); ++i) {
    const int64_t code = probes[i]->Wait(120000);
    ended.push_back(
        {probes[i]->pid(), std::atoll(ReadFile(folder + std::to_string(i)).c_str()), code});
  }
  return ended;
}
#else
std::vector<Ended> RunProbes(const std::vector<std::string>& faults, const std::string&) {
  std::vector<Ended> ended;
  for (const std::string& fault : faults) {
    const ChildResult child = RunInChild([&] { _exit(CommitFault(fault)); });
    ended.push_back(
        {child.pid, child.pid,
         WIFSIGNALED(child.status) ? WTERMSIG(child.status) : 256 + WEXITSTATUS(child.status)});
  }
  return ended;
}
#endif

struct Case {
  const char* fault;
  int64_t ending;
  std::string title;  // "" for no report
  std::string detail;
  bool dumped = false;  // Windows: a minidump, and the faulting frame named
};

// "*" stands for the main thread's id.
const char kTerminated[] = "Terminate in thread *: uncaught exception std::runtime_error: boom\n";
#if defined(_WIN32)
const Case kCases[] = {
    {"access-violation", 0xC0000005, "EXCEPTION_ACCESS_VIOLATION",
     "Exception: 0xC0000005\nFault address: 0x0000000000000000\n", true},
    {"divide-by-zero", 0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO", "Exception: 0xC0000094\n", true},
    {"illegal-instruction", 0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION", "Exception: 0xC000001D\n",
     true},
    {"stack-overflow", 0xC00000FD, "EXCEPTION_STACK_OVERFLOW", "Exception: 0xC00000FD\n", true},
    {"raised", 0xE0000001, "unhandled exception", "Exception: 0xE0000001\n", true},
    {"other-thread", 0xC0000005, "EXCEPTION_ACCESS_VIOLATION", "Exception: 0xC0000005\n", true},
    {"installed-twice", 0xC0000005, "EXCEPTION_ACCESS_VIOLATION", "Exception: 0xC0000005\n", true},
    {"abort", 3, "SIGABRT", "Signal: 22 (SIGABRT)\n"},
    {"terminate", 3, "terminate", kTerminated},
    {"removed", 0xC0000005, "", ""},
    {"filter-continues", 42, "", ""},
};
const char kNamedFrame[] = "crash_probe.exe(+0x";
#else
const Case kCases[] = {
    {"access-violation", SIGSEGV, "SIGSEGV",
     "Signal: 11 (SIGSEGV), code 1\nFault address: 0x0000000000000000\n"},
    {"divide-by-zero", SIGFPE, "SIGFPE", "Signal: 8 (SIGFPE), code 1\n"},
    {"illegal-instruction", SIGILL, "SIGILL", "Signal: 4 (SIGILL)"},
    {"bus-error", SIGBUS, "SIGBUS", "Signal: 7 (SIGBUS), code 2\n"},
    // Written on the alternate stack.
    {"stack-overflow", SIGSEGV, "SIGSEGV", "Signal: 11 (SIGSEGV), code"},
    {"other-thread", SIGSEGV, "SIGSEGV", "Signal: 11 (SIGSEGV)"},
    {"installed-twice", SIGSEGV, "SIGSEGV", "Signal: 11 (SIGSEGV)"},
    {"abort", SIGABRT, "SIGABRT", "Signal: 6 (SIGABRT)"},
    {"terminate", SIGABRT, "terminate", kTerminated},
    {"removed", SIGSEGV, "", ""},
    // The handler chains to a guard installed before it, which takes its own
    // faults; removed below a guard, it reports nothing.
    {"guard-below-inside", 256 + 42, "", ""},
    {"guard-below-outside", SIGSEGV, "SIGSEGV", "Signal: 11 (SIGSEGV)"},
    {"removed-below-a-guard", SIGSEGV, "", ""},
};
// backtrace_symbols_fd names the library's frames.
const char kNamedFrame[] = "libcrashlog.so";
#endif

using CrashHandlerTest = LogWTest;

TEST_F(CrashHandlerTest, AFaultNothingHandlesIsReportedAndEndsTheProcessAsItWould) {
  std::vector<std::string> faults;
  for (const Case& c : kCases) faults.push_back(c.fault);
  const std::vector<Ended> ended = RunProbes(faults, root_.path() + "/probe");
  // Reports go beside the log.
  const std::string folder = root_.path() + "/own";
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const Case& c = kCases[i];
    const Ended& probe = ended[i];
    SCOPED_TRACE(c.fault);
    EXPECT_EQ(probe.ending, c.ending);
    const std::string report = ReadReports(folder, probe.pid);
    const std::string dump = ReadReports(folder, probe.pid, ".dmp");
    if (c.title.empty()) {
      EXPECT_EQ(report, "");
      EXPECT_EQ(dump, "");
      continue;
    }
    std::string detail = c.detail;
    if (const size_t star = detail.find('*'); star != std::string::npos)
      detail.replace(star, 1, std::to_string(probe.main_thread));
    const std::string heading = "Wardex crash report: " + c.title + "\n";
    for (const std::string& expected :
         {heading, detail, "Process: " + std::to_string(probe.pid) + "\n",
          std::string("Computer: TEST-COMPUTER-42\n"), std::string("Backtrace:\n")}) {
      EXPECT_NE(report.find(expected), std::string::npos) << expected << " missing in\n" << report;
    }
    EXPECT_EQ(report.find(heading), report.rfind(heading)) << "one report of the fault\n" << report;
    std::smatch match;
    const int64_t thread =
        std::regex_search(report, match, std::regex("Thread: (\\d+)\n")) ? std::stoll(match[1]) : 0;
    EXPECT_EQ(thread == probe.main_thread, std::string(c.fault) != "other-thread") << report;
    if (detail.starts_with("Terminate")) {
      const std::vector<std::string> errors = LoggedAt(log_path_, kLogError);
      EXPECT_NE(std::find(errors.begin(), errors.end(), detail.substr(0, detail.size() - 1)),
                errors.end());
    }
#if defined(_WIN32)
    if (!c.dumped) continue;
    EXPECT_NE(report.find("Minidump: "), std::string::npos) << report;
    void* stream = nullptr;
    ULONG size = 0;
    ASSERT_TRUE(!dump.empty() && MiniDumpReadDumpStream(const_cast<char*>(dump.data()),
                                                        ExceptionStream, nullptr, &stream, &size))
        << "no exception stream in the minidump";
    const auto* exception = static_cast<const MINIDUMP_EXCEPTION_STREAM*>(stream);
    // Its code and thread.
    EXPECT_EQ(std::tuple(exception->ExceptionRecord.ExceptionCode, exception->ThreadId),
              std::tuple(c.ending, thread));
#endif
    EXPECT_NE(report.find(kNamedFrame), std::string::npos) << report;
  }
}

TEST_F(CrashHandlerTest, WorkerExceptionFilterLogsOneLineAndExecutesTheHandler) {
  SetComputerId(u"TEST-COMPUTER-42");
  const std::string long_name(300, 'n');
  // The record (none: a missing one), the thread's name, the line logged.
  const std::tuple<std::optional<WardexExceptionRecord>, const char*, std::string> cases[] = {
      {WardexExceptionRecord{0xC0000096, reinterpret_cast<void*>(0x7f00deadbeef), 11, 128},
       "Newsfeed",
       R"(Worker thread "Newsfeed": exception 0xC0000096 at 0x00007F00DEADBEEF (signal 11, code 128))"},
      {WardexExceptionRecord{0xE06D7363, nullptr, 0, 0}, long_name.c_str(),
       "Worker thread \"" + long_name.substr(0, 255) +
           "\": exception 0xE06D7363 at 0x0000000000000000"},
      {WardexExceptionRecord{0xC0000005, nullptr, 0, 0}, nullptr,
       R"(Worker thread "": exception 0xC0000005 at 0x0000000000000000)"},
      {std::nullopt, "No Record", R"(Worker thread "No Record": exception without a record)"},
  };
  std::vector<std::string> expected;
  for (const auto& [record, name, line] : cases) {
    WardexExceptionRecord copy = record.value_or(WardexExceptionRecord{});
    WardexExceptionPointers pointers{record ? &copy : nullptr, nullptr};
    EXPECT_EQ(WorkerExceptionFilter(&pointers, name), kExceptionExecuteHandler);
    expected.push_back(line);
  }
  EXPECT_EQ(LoggedAt(log_path_, kLogError), expected);
  const std::string reports = ReadReports(root_.path() + "/own", platform::CurrentProcessId());
  for (const std::string& line : expected) {
    EXPECT_NE(reports.find(line + "\n"), std::string::npos) << line;
  }
  EXPECT_NE(reports.find("Computer: TEST-COMPUTER-42\n"), std::string::npos) << reports;
}

#if !defined(_WIN32)
void SentinelHandler(int, siginfo_t*, void*) {}

TEST_F(CrashHandlerTest, RemovingRestoresTheHandlersItFound) {
  struct sigaction sentinel {};
  sentinel.sa_sigaction = SentinelHandler;
  sentinel.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&sentinel.sa_mask);
  struct sigaction original {};
  sigaction(SIGBUS, &sentinel, &original);
  InstallCrashHandler();
  InstallCrashHandler();
  EXPECT_FALSE(std::filesystem::exists(root_.path() + "/own"))
      << "installing wrote the log's folder";
  RemoveCrashHandler();
  struct sigaction current {};
  sigaction(SIGBUS, &original, &current);
  EXPECT_EQ(current.sa_sigaction, SentinelHandler);
  EXPECT_EQ(current.sa_flags & (SA_RESTART | SA_ONSTACK | SA_SIGINFO), SA_RESTART | SA_SIGINFO);
}
#endif

}  // namespace
}  // namespace wardex::test
