// The harness on Windows under Wine: the agent started with CreateProcessW,
// asked to close with WM_CLOSE.
#include <windows.h>

#include <filesystem>

#include "integration/agent_harness.h"
#include "support/wine_desktop_win.h"

namespace wardex::test {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

const char kAgentExecutable[] = "Wardex";

namespace {

HANDLE Native(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// An argument quoted by the rules the agent's command line is split by.
std::wstring Quoted(const std::string& argument) {
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : fs::path(argument).wstring()) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM pid) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(pid)) PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

AgentProcess::~AgentProcess() {
  if (Running()) {
    TerminateProcess(Native(handle_), 1);
    Wait(milliseconds(5000));
  }
  CloseHandle(Native(handle_));
}

int AgentProcess::Wait(milliseconds timeout) {
  DWORD code = 0;
  if (status_ < 0 &&
      WaitForSingleObject(Native(handle_), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(Native(handle_), &code)) {
    status_ = static_cast<int>(code);
  }
  return status_;
}

bool AgentProcess::Signal(int signal_number) const {
  if (signal_number != SIGTERM) return false;
  return EnumWindows(CloseWindowOf, static_cast<LPARAM>(pid_));
}

void AgentTree::StageProgram(const std::string& from, const std::string& to) {
  StageFile(from, to);
}

// The prefix's registry and local application data folder outlive a tree.
void AgentTree::StagePlatform() {
  EXPECT_TRUE(TrustRootInWinePrefix(WARDEX_TEST_CA_PEM));
  HKEY vendor = nullptr;  // in the 32-bit view, as the agent keeps it
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                    &vendor) == ERROR_SUCCESS) {
    RegDeleteTreeW(vendor, L"WardexTest");
    RegCloseKey(vendor);
  }
  std::error_code absent;
  fs::remove(TrackingLog(), absent);
}

// On Windows the Console module shows its windows itself.
void AgentTree::AddDesktopConsole() {
  StageFile(WARDEX_CONSOLE_MODULE_SO, app_dir_ + "/modules/consolemodule/ConsoleModule.dll");
}

std::unique_ptr<AgentProcess> AgentTree::Start(const std::vector<std::string>& arguments) {
  const std::string program = app_dir_ + "/" + executable_name_;
  std::wstring command = Quoted(program);
  for (const std::string& argument : arguments) command += L" " + Quoted(argument);
  SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
  const HANDLE output =
      CreateFileW(fs::path(test_dir_ + "/agent.out").c_str(), FILE_APPEND_DATA,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_ALWAYS, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(fs::path(program).c_str(), command.data(), nullptr, nullptr,
                                      TRUE, 0, nullptr, nullptr, &startup, &process);
  CloseHandle(output);
  if (!started) return nullptr;
  CloseHandle(process.hThread);
  return std::make_unique<AgentProcess>(static_cast<pid_t>(process.dwProcessId),
                                        reinterpret_cast<intptr_t>(process.hProcess));
}

void AgentTest::SetUp() {
  ASSERT_TRUE(RunningUnderWine()) << "the agent tests add a root authority: Wine only";
  ASSERT_GT(GetSystemMetrics(SM_CXSCREEN), 1)
      << "no screen: these tests need an X display (the stage runs them under xvfb-run)";
}

}  // namespace wardex::test
