// The crash-and-log library's Windows side: the log's default place, and the
// crash handler's reports and minidumps, with the probe program failing in
// each way a process can.
// clang-format off
#include <windows.h>
#include <dbghelp.h>
#include <shlobj.h>
// clang-format on

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "log_test_util.h"
#include "support/test_env.h"
#include "wardex/crashlog.h"

namespace wardex::test {
namespace {

std::filesystem::path ThisProgramFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(path).parent_path();
}

TEST_F(LogWTest, DefaultTargetIsTheLocalApplicationDataFolder) {
  UnsetEnv("WARDEX_LOG_FILE");
  wchar_t* local = nullptr;
  ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local), S_OK);
  const std::filesystem::path expected =
      std::filesystem::path(local) / "Wardex" / "log" / "wardex.log";
  CoTaskMemFree(local);
  const std::string text = "default place " + std::to_string(GetCurrentProcessId());
  LogW(kLogInfo, u"%S", text.c_str());
  // Other tests of the prefix log there too: find this one's line.
  bool found = false;
  for (const std::string& line : ReadLines(expected.string())) {
    const auto parsed = ParseLogLine(line);
    found = found || (parsed && parsed->text == text && parsed->thread == CurrentThreadId());
  }
  EXPECT_TRUE(found) << expected;
}

// A probe program started with a fault to commit.
class Probe {
 public:
  explicit Probe(const std::string& fault) {
    const std::wstring program = (ThisProgramFolder() / "crash_probe.exe").wstring();
    std::wstring command = L"\"" + program + L"\" " + std::wstring(fault.begin(), fault.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    EXPECT_TRUE(CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process_))
        << "cannot start the probe: " << GetLastError();
  }
  ~Probe() {
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  DWORD pid() const { return process_.dwProcessId; }
  DWORD main_thread() const { return process_.dwThreadId; }
  // Waits for the end and returns the exit code.
  DWORD ExitCode() const {
    EXPECT_EQ(WaitForSingleObject(process_.hProcess, 120000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION process_{};
};

// The thread and code of a minidump's exception stream.
struct DumpedException {
  DWORD thread = 0;
  DWORD code = 0;
};

bool ReadDumpedException(const std::string& dump, DumpedException& out) {
  void* stream = nullptr;
  ULONG size = 0;
  if (dump.empty() || !MiniDumpReadDumpStream(const_cast<char*>(dump.data()), ExceptionStream,
                                              nullptr, &stream, &size)) {
    return false;
  }
  const auto* exception = static_cast<const MINIDUMP_EXCEPTION_STREAM*>(stream);
  out = {exception->ThreadId, exception->ExceptionRecord.ExceptionCode};
  return true;
}

// The number after "Thread: " in a report, or 0.
DWORD ReportedThread(const std::string& report) {
  std::smatch match;
  const std::regex thread("Thread: (\\d+)\n");
  return std::regex_search(report, match, thread) ? std::stoul(match[1]) : 0;
}

class CrashHandlerWinTest : public LogWTest {};

TEST_F(CrashHandlerWinTest, UnhandledFaultWritesReportAndMinidumpAndEndsWithItsCode) {
  struct Case {
    const char* fault;
    DWORD exit_code;
    std::string heading;  // "" for no report
    std::string detail;
    bool minidump;
  };
  const std::vector<Case> cases = {
      {"access-violation", 0xC0000005, "EXCEPTION_ACCESS_VIOLATION",
       "Exception: 0xC0000005\nFault address: 0x0000000000000000\n", true},
      {"divide-by-zero", 0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO", "Exception: 0xC0000094\n",
       true},
      {"illegal-instruction", 0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION",
       "Exception: 0xC000001D\n", true},
      {"privileged-instruction", 0xC0000096, "EXCEPTION_PRIV_INSTRUCTION",
       "Exception: 0xC0000096\n", true},
      {"stack-overflow", 0xC00000FD, "EXCEPTION_STACK_OVERFLOW", "Exception: 0xC00000FD\n", true},
      {"raised", 0xE0000001, "unhandled exception", "Exception: 0xE0000001\n", true},
      {"other-thread", 0xC0000005, "EXCEPTION_ACCESS_VIOLATION", "Exception: 0xC0000005\n", true},
      {"installed-twice", 0xC0000005, "EXCEPTION_ACCESS_VIOLATION", "Exception: 0xC0000005\n",
       true},
      {"abort", 3, "SIGABRT", "Signal: 22 (SIGABRT)\n", false},
      {"terminate", 3, "terminate",
       "Terminate in thread *: uncaught exception std::runtime_error: boom\n", false},
      {"removed", 0xC0000005, "", "", false},
      {"filter-continues", 42, "", "", false},
  };
  const std::string folder = root_.path() + "/own";
  // All at once: a minidump takes a few seconds under Wine.
  std::vector<std::unique_ptr<Probe>> probes;
  for (const Case& c : cases) probes.push_back(std::make_unique<Probe>(c.fault));
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const Probe& probe = *probes[i];
    SCOPED_TRACE(c.fault);
    EXPECT_EQ(probe.ExitCode(), c.exit_code);
    const std::string report = ReadReports(folder, probe.pid());
    const std::string dump = ReadReports(folder, probe.pid(), ".dmp");
    if (c.heading.empty()) {
      EXPECT_EQ(report, "");
      EXPECT_EQ(dump, "");
      continue;
    }
    std::string detail = c.detail;
    const size_t star = detail.find('*');
    if (star != std::string::npos) detail.replace(star, 1, std::to_string(probe.main_thread()));
    for (const std::string& expected :
         {"Wardex crash report: " + c.heading + "\n", detail,
          "Process: " + std::to_string(probe.pid()) + "\n",
          std::string("Computer: TEST-COMPUTER-42\n"), std::string("Backtrace:\n")}) {
      EXPECT_NE(report.find(expected), std::string::npos) << expected << " missing in\n" << report;
    }
    EXPECT_EQ(report.find("Wardex crash report: " + c.heading),
              report.rfind("Wardex crash report: " + c.heading))
        << "one report of the fault\n"
        << report;
    const DWORD thread = ReportedThread(report);
    EXPECT_EQ(thread == probe.main_thread(), std::string(c.fault) != "other-thread") << report;
    if (!c.minidump) continue;
    EXPECT_NE(report.find("crash_probe.exe(+0x"), std::string::npos)
        << "the faulting frame is named\n"
        << report;
    EXPECT_NE(report.find("Minidump: "), std::string::npos) << report;
    DumpedException dumped;
    ASSERT_TRUE(ReadDumpedException(dump, dumped)) << "no exception stream in the minidump";
    EXPECT_EQ(dumped.code, c.exit_code);
    EXPECT_EQ(dumped.thread, thread);
  }
}

}  // namespace
}  // namespace wardex::test
