#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "osal/wide_format.h"
#include "platform/command_line.h"
#include "support/test_env.h"
#include "support/test_env_internal.h"

namespace wardex::test {

const char kProgramSuffix[] = ".exe";
const char kLibrarySuffix[] = ".dll";

void SetEnv(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

// An empty value removes the variable from the C runtime's environment.
void UnsetEnv(const char* name) { _putenv_s(name, ""); }

std::string MakeTemporaryFolder() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (unsigned attempt = GetTickCount() ^ GetCurrentProcessId();; ++attempt) {
    const std::filesystem::path folder = base / ("wardex-test-" + std::to_string(attempt));
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder.string();
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
}

// A folder the user creates is the user's alone: its ACL inherits from the
// user's temporary folder.
void MakePrivateFolder(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

// No other account runs the Windows tests.
void OpenToEveryone(const std::string&) {}

bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::string HelperProgram(const std::string& name) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return (std::filesystem::path(path).parent_path() / (name + ".exe")).string();
}

bool CopyProgram(const std::string& program, const std::string& target) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::copy_file(program, target, error)) return false;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(program).parent_path())) {
    if (entry.path().extension() != ".dll") continue;
    fs::copy_file(entry.path(), fs::path(target).parent_path() / entry.path().filename(),
                  fs::copy_options::skip_existing, error);
    if (error) return false;
  }
  return true;
}

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& output, const std::string& errors,
                           const std::string& input) {
  const auto quoted = [](const std::string& argument) {
    return std::u16string(platform::QuoteArgument(KaOSAL::FromUtf8(argument).c_str()).c_str());
  };
  std::u16string command = quoted(program);
  for (const std::string& argument : arguments) command += u" " + quoted(argument);
  // Named files, or the test's own streams.
  SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
  std::vector<HANDLE> opened;
  const auto stream = [&](const std::string& file, DWORD access, DWORD own) {
    if (file.empty()) return GetStdHandle(own);
    if (own == STD_ERROR_HANDLE && file == output) return opened.back();
    opened.push_back(CreateFileW(std::filesystem::path(file).c_str(), access, FILE_SHARE_READ,
                                 &inherited, access == GENERIC_READ ? OPEN_EXISTING : CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    return opened.back();
  };
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.hStdInput = stream(input, GENERIC_READ, STD_INPUT_HANDLE);
  startup.hStdOutput = stream(output, GENERIC_WRITE, STD_OUTPUT_HANDLE);
  startup.hStdError = stream(errors, GENERIC_WRITE, STD_ERROR_HANDLE);
  startup.dwFlags = opened.empty() ? 0 : STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(std::filesystem::path(program).c_str(),
                                      reinterpret_cast<wchar_t*>(command.data()), nullptr, nullptr,
                                      !opened.empty(), 0, nullptr, nullptr, &startup, &process);
  for (HANDLE file : opened) CloseHandle(file);
  if (!started) return;
  CloseHandle(process.hThread);
  pid_ = process.dwProcessId;
  handle_ = reinterpret_cast<intptr_t>(process.hProcess);
}

ChildProgram::~ChildProgram() {
  Kill();
  Wait();
  if (started()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

int64_t ChildProgram::Wait(uint32_t timeout_ms) {
  if (!started() || ended_) return exit_code_;
  const HANDLE process = reinterpret_cast<HANDLE>(handle_);
  DWORD code = 0;
  if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process, &code)) {
    return -1;
  }
  ended_ = true;
  exit_code_ = code;
  return code;
}

void ChildProgram::Kill() {
  if (started() && !ended_) TerminateProcess(reinterpret_cast<HANDLE>(handle_), 1);
}

}  // namespace wardex::test
