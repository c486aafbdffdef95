// Processes on Windows: CreateProcessW with the agent's own token and only
// the handles the caller names, Toolhelp snapshots with creation times,
// WM_CLOSE to a process's top-level windows, and ShellExecuteExW (decision 036).
#include "platform/process.h"

#include "platform/windows_api.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/command_line.h"
#include "platform/system_error_win_internal.h"
#include "wardex/crashlog.h"

namespace wardex::platform {
namespace {

// A process's handle: it names the process that was opened even after its id
// has been given to another one, and keeps an ended child's exit code.
struct OwnedProcess {
  explicit OwnedProcess(HANDLE h) : process(h) {}
  ~OwnedProcess() { CloseHandle(process); }
  OwnedProcess(const OwnedProcess&) = delete;
  OwnedProcess& operator=(const OwnedProcess&) = delete;
  HANDLE process;
};

}  // namespace

struct ProcessHandle::Hold : OwnedProcess {
  using OwnedProcess::OwnedProcess;
};

struct ChildProcess::Hold : OwnedProcess {
  using OwnedProcess::OwnedProcess;
};

namespace {

constexpr DWORD kTerminateWaitMs = 5000;

const wchar_t* Wide(const KaOSAL::KaString& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

KaOSAL::KaString FromWide(const wchar_t* text) {
  return KaOSAL::KaString(reinterpret_cast<const char16_t*>(text));
}

bool Ended(HANDLE process) { return WaitForObject(process, 0) == WaitResult::kSignaled; }

// Ending an ended process fails as on Linux (Wine would report success).
bool RefuseEnded(HANDLE process) {
  if (!Ended(process)) return false;
  KaOSAL::SetLastError(KaOSAL::kErrorAccessDenied);
  return true;
}

// When |process| started, in 100 ns since 1601; 0 when it cannot be read.
uint64_t StartTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// The full path of |process|'s executable, or empty.
KaOSAL::KaString ImagePath(HANDLE process) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (QueryFullProcessImageNameW(process, 0, buffer.data(), &size)) {
      buffer.resize(size);
      return FromWide(buffer.c_str());
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    buffer.resize(buffer.size() * 4);
  }
  return KaOSAL::KaString();
}

// Sends or posts WM_CLOSE to each top-level window of one process, visible
// or not; sends share one deadline, so a hung program cannot hold the caller.
struct CloseRequest {
  DWORD process_id;
  uint32_t send_wait_ms;
  uint32_t start = GetTickCount();
  int asked = 0;
  DWORD error = 0;  // of the last post that failed
};

BOOL CALLBACK AskWindowToClose(HWND window, LPARAM parameter) {
  auto* request = reinterpret_cast<CloseRequest*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != request->process_id) return TRUE;
  constexpr UINT kClose = 0x0010;  // WM_CLOSE
  const uint32_t waited = GetTickCount() - request->start;
  const bool asked = waited < request->send_wait_ms
                         ? SendMessageTimeoutW(window, kClose, 0, 0, SMTO_ABORTIFHUNG,
                                               request->send_wait_ms - waited, nullptr) != 0
                         : PostMessageW(window, kClose, 0, 0) != 0;
  if (asked)
    ++request->asked;
  else
    request->error = ::GetLastError();
  return TRUE;
}

}  // namespace

bool TakeProcessSnapshot(std::vector<ProcessSnapshotEntry>& entries) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    LogW(kLogSysFail, u"Process: no process snapshot, error %u", static_cast<unsigned>(error));
    KaOSAL::SetLastError(error);
    return false;
  }
  const size_t first = entries.size();
  PROCESSENTRY32W item{};
  item.dwSize = sizeof(item);
  for (BOOL more = Process32FirstW(snapshot, &item); more; more = Process32NextW(snapshot, &item)) {
    if (item.th32ProcessID == 0) continue;  // the idle process
    ProcessSnapshotEntry entry;
    entry.id = item.th32ProcessID;
    entry.image_name = FromWide(item.szExeFile);
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.id)) {
      entry.start_time = StartTime(process);
      entry.image_path = ImagePath(process);
      CloseHandle(process);
    }
    entries.push_back(std::move(entry));
  }
  CloseHandle(snapshot);
  std::sort(
      entries.begin() + static_cast<std::ptrdiff_t>(first), entries.end(),
      [](const ProcessSnapshotEntry& a, const ProcessSnapshotEntry& b) { return a.id < b.id; });
  return true;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool PrintForStarter(std::string_view text) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output != nullptr && output != INVALID_HANDLE_VALUE &&
      GetFileType(output) != FILE_TYPE_UNKNOWN) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
  }
  // Access denied: a console is attached already (Wine gives a GUI program
  // its starter's). The C library's streams stay without one: they were set
  // up before, so the text goes to the console's own handle.
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) return false;
  const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool printed =
      WriteFile(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  CloseHandle(console);
  return printed;
}

std::unique_ptr<ProcessHandle> ProcessHandle::Open(const ProcessSnapshotEntry& entry) {
  const HANDLE process = OpenProcess(
      SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.id);
  if (process == nullptr) {
    KeepSystemError();
    return nullptr;
  }
  auto held = std::make_unique<Hold>(process);
  // The id names the process of the entry only if it started when that one did.
  if (StartTime(process) != entry.start_time) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return nullptr;
  }
  return std::unique_ptr<ProcessHandle>(new ProcessHandle(std::move(held), entry.id));
}

ProcessHandle::ProcessHandle(std::unique_ptr<Hold> held, uint32_t id)
    : held_(std::move(held)), id_(id) {}

ProcessHandle::~ProcessHandle() = default;

bool ProcessHandle::HasEnded() const { return Ended(held_->process); }

bool ProcessHandle::AskToClose(uint32_t send_wait_ms) const {
  CloseRequest request{id_, send_wait_ms};
  EnumWindows(AskWindowToClose, reinterpret_cast<LPARAM>(&request));
  // A window may go between the listing and the request; only a process
  // that none of its windows could be asked fails. One without windows has
  // nothing to be asked: the caller's grace time ends it.
  if (request.asked > 0 || request.error == 0) return true;
  KaOSAL::SetLastError(request.error);
  return false;
}

bool ProcessHandle::Terminate() const {
  if (RefuseEnded(held_->process)) return false;
  if (TerminateProcess(held_->process, 0)) return true;
  KeepSystemError();
  return false;
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const StartInfo& info) {
  const std::vector<KaOSAL::KaString> arguments = SplitCommandLine(info.command_line);
  if (arguments.empty() || arguments[0].IsEmpty()) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return nullptr;
  }
  // The program is the first element as it stands: CreateProcessW would
  // otherwise search the folders of PATH for it.
  KaOSAL::KaString command_line = info.command_line;
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  // The program gets the system's error mode, not the agent's.
  DWORD flags = CREATE_DEFAULT_ERROR_MODE;
  HANDLE channel = info.channel == kNoNativeHandle
                       ? nullptr
                       : reinterpret_cast<HANDLE>(static_cast<intptr_t>(info.channel));
  HANDLE null_device = INVALID_HANDLE_VALUE;
  if (info.hidden) {
    flags |= CREATE_NO_WINDOW;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
    null_device =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
    startup.StartupInfo.hStdInput = null_device;
    startup.StartupInfo.hStdOutput = null_device;
    startup.StartupInfo.hStdError = null_device;
  }
  // Only the channel and the null device are inherited, whatever other
  // handles of ours are inheritable.
  HANDLE inherit[2];
  DWORD inherit_count = 0;
  if (channel != nullptr) {
    SetHandleInformation(channel, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    inherit[inherit_count++] = channel;
  }
  if (null_device != INVALID_HANDLE_VALUE) inherit[inherit_count++] = null_device;
  std::vector<unsigned char> attributes;
  if (inherit_count > 0) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributes.resize(size);
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size);
    UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                              inherit, inherit_count * sizeof(HANDLE), nullptr, nullptr);
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION started{};
  const BOOL ok =
      CreateProcessW(Wide(arguments[0]), const_cast<wchar_t*>(Wide(command_line)), nullptr, nullptr,
                     inherit_count > 0, flags, nullptr,
                     info.working_folder.IsEmpty() ? nullptr : Wide(info.working_folder),
                     &startup.StartupInfo, &started);
  const DWORD error = ::GetLastError();
  if (startup.lpAttributeList != nullptr) DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (null_device != INVALID_HANDLE_VALUE) CloseHandle(null_device);
  if (channel != nullptr) SetHandleInformation(channel, HANDLE_FLAG_INHERIT, 0);
  if (!ok) {
    // A missing working folder is reported like a missing program.
    KaOSAL::SetLastError(error == ERROR_DIRECTORY ? KaOSAL::kErrorFileNotFound : error);
    return nullptr;
  }
  CloseHandle(started.hThread);
  return std::unique_ptr<ChildProcess>(
      new ChildProcess(std::make_unique<Hold>(started.hProcess), started.dwProcessId));
}

ChildProcess::ChildProcess(std::unique_ptr<Hold> held, uint32_t id)
    : held_(std::move(held)), id_(id) {}

// The system keeps an ended child's exit code while a handle is open: there
// is nothing to reap.
ChildProcess::~ChildProcess() = default;

uint32_t ChildProcess::ExitCode() {
  DWORD code = kStillActive;
  if (!GetExitCodeProcess(held_->process, &code)) return kStillActive;
  // A program may end with 259 itself: only the process's state tells.
  return code == kStillActive && !Ended(held_->process) ? kStillActive : code;
}

bool ChildProcess::WaitUntilReady(uint32_t timeout_ms) {
  switch (WaitForInputIdle(held_->process, timeout_ms)) {
    case 0:
      return true;
    case WAIT_TIMEOUT:
      return false;
    default:
      // No message queue to wait for (a console program), or it has ended.
      return !Ended(held_->process);
  }
}

bool ChildProcess::WaitForExit(uint32_t timeout_ms) {
  return WaitForObject(held_->process, timeout_ms) == WaitResult::kSignaled;
}

bool ChildProcess::Terminate(uint32_t exit_code) {
  if (RefuseEnded(held_->process)) return false;
  if (!TerminateProcess(held_->process, exit_code)) {
    KeepSystemError();
    return false;
  }
  // TerminateProcess only starts the end; the exit code is the one given
  // once it is over, which takes moments.
  (void)WaitForObject(held_->process, kTerminateWaitMs);
  return true;
}

bool ShellOpen(const KaOSAL::KaString& target, const KaOSAL::KaString& working_folder) {
  KaOSAL::KaString file = target;
  if (file.GetLength() >= 2 && file.StartsWith(u"\"") && file.EndsWith(u"\"")) {
    file = file.Mid(1, file.GetLength() - 2);
  }
  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  execute.lpVerb = L"open";
  execute.lpFile = Wide(file);
  execute.lpDirectory = working_folder.IsEmpty() ? nullptr : Wide(working_folder);
  execute.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&execute)) return true;
  const DWORD error = ::GetLastError();
  LogW(kLogNotable, u"Process: the shell did not open %s, error %u", file.c_str(),
       static_cast<unsigned>(error));
  KaOSAL::SetLastError(error == ERROR_PATH_NOT_FOUND ? KaOSAL::kErrorFileNotFound : error);
  return false;
}

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<KaOSAL::KaString> wide =
      SplitCommandLine(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  std::vector<std::string> arguments;
  for (size_t i = 1; i < wide.size(); ++i) {
    arguments.push_back(KaOSAL::ToUtf8(wide[i].c_str(), static_cast<size_t>(wide[i].GetLength())));
  }
  return arguments;
}

}  // namespace wardex::platform
