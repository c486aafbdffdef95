#include "console_process.h"

#include <sys/socket.h>

#include <cerrno>
#include <utility>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "protocol/console_protocol.h"
#include "wardex/crashlog.h"

namespace wardex::console {
namespace {

// How long a Console whose socket closed may take to end before it is killed.
constexpr uint32_t kExitGraceMs = 1000;
// The exit code recorded for a Console that had to be killed.
constexpr uint32_t kKilledExitCode = 1;

static_assert(kConsoleSocketFd == 3, "the platform hands a started program its channel as 3");

}  // namespace

std::unique_ptr<ConsoleProcess> ConsoleProcess::Start(const std::string& program) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    LogW(kLogError, u"CONSOLE: no socket pair for the Console (errno %d)", errno);
    return nullptr;
  }
  platform::ScopedFd ours(pair[0]);
  const platform::ScopedFd theirs(pair[1]);
  platform::StartInfo start;
  start.command_line = u"\"" + KaOSAL::KaString(KaOSAL::FromUtf8(program).c_str()) + u"\"";
  start.channel = platform::NativeHandle{theirs.get()};
  std::unique_ptr<platform::ChildProcess> child = platform::ChildProcess::Start(start);
  if (child == nullptr) {
    LogW(kLogError, u"CONSOLE: cannot start %S (error %lu)", program.c_str(),
         static_cast<unsigned long>(KaOSAL::GetLastError()));
    return nullptr;
  }
  LogW(kLogInfo, u"CONSOLE: started %S (pid %d)", program.c_str(), static_cast<int>(child->id()));
  return std::unique_ptr<ConsoleProcess>(new ConsoleProcess(std::move(ours), std::move(child)));
}

ConsoleProcess::~ConsoleProcess() {
  socket_.reset();
  if (child_->WaitForExit(kExitGraceMs)) return;
  if (child_->Terminate(kKilledExitCode)) (void)child_->WaitForExit(platform::kInfinite);
}

}  // namespace wardex::console
