#include "modules/process_control.h"

#include <memory>

#include "osal/ka_path.h"
#include "osal/last_error.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "wardex/crashlog.h"

namespace wardex {
namespace {

// The exit code a program ended by RunProgram is given (all bits set).
constexpr uint32_t kTerminatedExitCode = 0xFFFFFFFF;
constexpr uint32_t kExitPollMs = 1;
constexpr uint32_t kClosePollMs = 50;

bool Cancelled(const std::atomic<uint8_t>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_relaxed) != 0;
}

bool SameText(const KaOSAL::KaString& a, const KaOSAL::KaString& b) {
  return a.CompareNoCase(b.c_str()) == 0;
}

// Returns the quoted path, followed by a blank and the arguments when given.
KaOSAL::KaString BuildCommandLine(const char16_t* path, const char16_t* arguments) {
  KaOSAL::KaString command_line = u"\"" + KaOSAL::KaString(path) + u"\"";
  if (arguments != nullptr && arguments[0] != u'\0') {
    command_line += u' ';
    command_line += arguments;
  }
  return command_line;
}

// Waits for |child| to end, polling its exit code every 1 ms. Ends it when
// the wait elapses or the caller cancels; returns 0 or 1067 for that.
uint32_t WaitForExit(platform::ChildProcess& child, uint32_t exit_wait_ms,
                     const std::atomic<uint8_t>* cancel) {
  const uint32_t start = platform::TickCount();
  uint32_t exit_code = platform::kStillActive;
  while (!Cancelled(cancel) && platform::TickCount() - start < exit_wait_ms &&
         (exit_code = child.ExitCode()) == platform::kStillActive)
    platform::SleepMilliseconds(kExitPollMs);
  if (exit_code != platform::kStillActive) return KaOSAL::kErrorSuccess;
  if (!child.Terminate(kTerminatedExitCode))
    LogW(kLogSysFail, u"RunProgram: terminating process %lu failed (%lu)",
         static_cast<unsigned long>(child.id()),
         static_cast<unsigned long>(KaOSAL::GetLastError()));
  return KaOSAL::kErrorServiceProcessAborted;
}

// The snapshot entries that match |filter|, with their full paths.
std::vector<platform::ProcessSnapshotEntry> MatchSnapshot(const ProcessFilter& filter) {
  std::vector<platform::ProcessSnapshotEntry> snapshot;
  std::vector<platform::ProcessSnapshotEntry> matches;
  if (!platform::TakeProcessSnapshot(snapshot)) return matches;
  const uint32_t self = platform::CurrentProcessId();
  for (const platform::ProcessSnapshotEntry& process : snapshot) {
    for (const ProcessFilter::Image& image : filter.images) {
      if (!SameText(process.image_name, image.name)) continue;
      if (filter.exclude_self && process.id == self) continue;
      if (!image.path.IsEmpty() && !SameText(process.image_path, image.path)) continue;
      matches.push_back(process);
    }
  }
  return matches;
}

}  // namespace

uint32_t RunProgram(const char16_t* path, const char16_t* arguments, uint32_t idle_wait_ms,
                    uint8_t hidden, uint32_t exit_wait_ms, const std::atomic<uint8_t>* cancel) {
  if (path == nullptr || !(platform::FileExists(path) || platform::DirectoryExists(path)))
    return KaOSAL::kErrorFileNotFound;
  const KaOSAL::KaString working_folder = KaOSAL::KaPath(path).GetRootAndDir();
  const KaOSAL::KaString command_line = BuildCommandLine(path, arguments);

  KaOSAL::SetLastError(KaOSAL::kErrorSuccess);
  std::unique_ptr<platform::ChildProcess> child =
      platform::ChildProcess::Start({command_line, working_folder, hidden != 0});
  bool started = child != nullptr;
  uint32_t result = started ? KaOSAL::kErrorSuccess : KaOSAL::GetLastError();
  if (!started)
    LogW(kLogSysFail, u"RunProgram: starting %s failed (%lu)", command_line.c_str(),
         static_cast<unsigned long>(result));
  // A program not ready for input within the idle wait does not count as
  // started: it is not waited for, and the result is the last error of this
  // moment, which the start left at 0, so it is not opened a second time.
  if (started && !child->WaitUntilReady(idle_wait_ms)) {
    result = KaOSAL::GetLastError();
    started = false;
  }
  if (started && exit_wait_ms > 0) result = WaitForExit(*child, exit_wait_ms, cancel);
  // The handle goes here whether or not the exit was waited for; a child
  // that still runs is reaped when it ends.
  child.reset();

  if (result != KaOSAL::kErrorSuccess && !started &&
      platform::ShellOpen(command_line, working_folder))
    result = KaOSAL::kErrorSuccess;
  return result;
}

std::vector<ProcessEntry> FindProcesses(const ProcessFilter& filter) {
  std::vector<ProcessEntry> entries;
  for (const platform::ProcessSnapshotEntry& match : MatchSnapshot(filter))
    entries.push_back({match.image_name, match.image_path, match.id});
  return entries;
}

bool IsProcessRunning(const KaOSAL::KaString& image_name, const KaOSAL::KaString& image_path,
                      bool exclude_self, uint32_t* process_id) {
  ProcessFilter filter;
  filter.images.push_back({image_name, image_path});
  filter.exclude_self = exclude_self;
  const std::vector<platform::ProcessSnapshotEntry> matches = MatchSnapshot(filter);
  if (matches.empty()) return false;
  const platform::ProcessSnapshotEntry& first = matches.front();
  // Only our own children have an exit code; for any other process "still
  // active" means "has not ended". One that cannot be opened counts as ended.
  bool active = false;
  if (first.id != 0) {
    const std::unique_ptr<platform::ProcessHandle> process = platform::ProcessHandle::Open(first);
    active = process != nullptr && !process->HasEnded();
  }
  if (process_id != nullptr) *process_id = first.id;
  return active;
}

void CloseProcessesByName(const KaOSAL::KaString& image_name, const KaOSAL::KaString& image_path,
                          uint8_t send, uint32_t grace_ms) {
  ProcessFilter filter;
  filter.images.push_back({image_name, image_path});
  filter.exclude_self = true;
  // All are asked first and share one grace time, so that the processes
  // found, however many, cannot stretch the wait beyond it.
  // Sent close messages wait for the windows within the same grace time.
  std::vector<std::unique_ptr<platform::ProcessHandle>> asked;
  const uint32_t start = platform::TickCount();
  for (const platform::ProcessSnapshotEntry& entry : MatchSnapshot(filter)) {
    std::unique_ptr<platform::ProcessHandle> process = platform::ProcessHandle::Open(entry);
    if (process == nullptr) continue;
    const uint32_t elapsed = platform::TickCount() - start;
    const uint32_t send_wait_ms = send != 0 && elapsed < grace_ms ? grace_ms - elapsed : 0;
    if (!process->AskToClose(send_wait_ms)) {
      LogW(kLogSysFail, u"CloseProcessesByName: signalling process %lu failed (%lu)",
           static_cast<unsigned long>(process->id()),
           static_cast<unsigned long>(KaOSAL::GetLastError()));
      continue;
    }
    asked.push_back(std::move(process));
  }
  for (;;) {
    std::erase_if(asked, [](const auto& process) { return process->HasEnded(); });
    if (asked.empty()) return;
    if (platform::TickCount() - start >= grace_ms) break;
    platform::SleepMilliseconds(kClosePollMs);
  }
  for (const auto& process : asked) {
    LogW(kLogNotable, u"CloseProcessesByName: process %lu did not close within %lu ms",
         static_cast<unsigned long>(process->id()), static_cast<unsigned long>(grace_ms));
    if (!process->Terminate())
      LogW(kLogSysFail, u"CloseProcessesByName: terminating process %lu failed (%lu)",
           static_cast<unsigned long>(process->id()),
           static_cast<unsigned long>(KaOSAL::GetLastError()));
  }
}

}  // namespace wardex
