// Processes on Linux.
//
// Starting: posix_spawn, whose glibc implementation returns only after the
// child's execve succeeded and reports a failed execve as its own error (the
// failed child is reaped inside). That is the moment a started program counts
// as ready. The child gets an empty signal mask, the default disposition of
// every signal (the agent blocks and catches some), a session of its own (the
// agent's terminal signals do not reach it) and no descriptor of ours beyond
// 0 to 2 and its channel (closefrom), whatever a library may have left
// inheritable. Every program the agent and its modules start goes through
// here, the Console included.
//
// Reaping: every child is held through a pidfd right after the spawn (the pid
// cannot be reused before we reap it). ExitCode() reaps with waitid(P_PIDFD)
// once the child has ended; a handle destroyed earlier passes its pidfd to a
// small detached thread that blocks in waitid until the child ends. Nothing
// waits for "any child", so children started by other code keep their exit
// status. The agent must not set SIGCHLD to SIG_IGN (children would then reap
// themselves and waitid would fail with ECHILD).
//
// Other processes: a snapshot from /proc, image names from /proc/PID/exe with
// the " (deleted)" mark of a replaced or removed executable stripped. They
// are opened as pidfds after checking that the id still belongs to the
// process of the snapshot (same start time), so a signal sent through the
// handle never reaches a process that got the id later.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
// glibc 2.36 declares the pidfd functions without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/command_line.h"
#include "platform/exe_link_internal.h"
#include "platform/posix_io_internal.h"
#include "platform/scoped_fd_posix.h"
#include "wardex/crashlog.h"

extern char** environ;

namespace wardex::platform {
namespace {

// ERROR_NO_ASSOCIATION: the opener found nothing to open the target with.
constexpr uint32_t kErrorNoAssociation = 1155;
// How long ShellOpen waits for xdg-open's verdict. Some desktops run the
// chosen application in the foreground of xdg-open; one still running after
// this has accepted the target.
constexpr int kOpenerVerdictMs = 5000;
// Field of /proc/PID/stat holding the start time, counted from the state (field 3).
constexpr int kStartTimeFieldAfterState = 22 - 3;
// The descriptor a started program finds its channel at.
constexpr int kChannelFd = 3;
// The reaper threads only wait; they need little stack.
constexpr size_t kReaperStackSize = 64 * 1024;

std::string Native(const KaOSAL::KaString& text) {
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

KaOSAL::KaString Wide(const std::string& text) {
  const std::u16string wide = KaOSAL::FromUtf8(text);
  return KaOSAL::KaString(wide.c_str(), static_cast<int>(wide.size()));
}

// The whole content of a small /proc file, or what could be read of it.
std::string ReadProcFile(const std::string& path) {
  std::string content;
  const ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() >= 0) (void)ReadToEnd(fd.get(), &content);
  return content;
}

// The command name and start time from /proc/PID/stat. False when the
// process has gone.
bool ReadStat(uint32_t id, std::string& comm, uint64_t& start_time) {
  const std::string stat = ReadProcFile("/proc/" + std::to_string(id) + "/stat");
  // The name may hold blanks and parentheses; it ends at the last ')'.
  const size_t open_paren = stat.find('(');
  const size_t close_paren = stat.rfind(')');
  if (open_paren == std::string::npos || close_paren == std::string::npos ||
      close_paren < open_paren)
    return false;
  comm = stat.substr(open_paren + 1, close_paren - open_paren - 1);
  size_t pos = close_paren + 2;  // the state field
  for (int field = 0; field < kStartTimeFieldAfterState && pos != std::string::npos; ++field) {
    pos = stat.find(' ', pos);
    if (pos != std::string::npos) ++pos;
  }
  if (pos == std::string::npos || pos >= stat.size()) return false;
  start_time = std::strtoull(stat.c_str() + pos, nullptr, 10);
  return true;
}

// The process id of a /proc entry name, or 0 when it is not a process.
uint32_t ProcessIdOfName(const char* name) {
  uint32_t id = 0;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || id > 0xFFFFFFF) return 0;
    id = id * 10 + static_cast<uint32_t>(*c - '0');
  }
  return id;
}

// True once the process behind |pidfd| has ended, waiting up to |timeout_ms|.
bool PidfdEnded(int pidfd, int timeout_ms) {
  pollfd entry{pidfd, POLLIN, 0};
  for (;;) {
    const int ready = poll(&entry, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0;
  }
}

void* ReapWhenEnded(void* parameter) {
  const int pidfd = static_cast<int>(reinterpret_cast<intptr_t>(parameter));
  siginfo_t info{};
  while (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info, WEXITED) != 0 &&
         errno == EINTR) {
  }
  close(pidfd);
  return nullptr;
}

// Hands a child that may still run to a detached thread that reaps it.
void ReapLater(ScopedFd held, uint32_t id) {
  const int pidfd = held.release();
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, kReaperStackSize);
  pthread_t thread;
  const int error = pthread_create(&thread, &attr, ReapWhenEnded,
                                   reinterpret_cast<void*>(static_cast<intptr_t>(pidfd)));
  pthread_attr_destroy(&attr);
  if (error != 0) {
    // Without a reaper the child stays a zombie until the agent ends.
    LogW(kLogSysFail, u"Process: no reaper for child %lu, error %d", static_cast<unsigned long>(id),
         error);
    close(pidfd);
  }
}

// What posix_spawn is to do for a start.
struct SpawnRequest {
  std::vector<std::string> argv;
  std::string working_folder;
  bool hidden = false;
  bool search_path = false;
  int channel = -1;
};

// Fills the attributes: empty signal mask, every signal at its default, a
// session of its own.
int PrepareAttributes(posix_spawnattr_t& attr) {
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  // Every bit, not sigfillset: that leaves out glibc's two internal signals,
  // which the spawn helper would then hand to the new program ignored.
  std::memset(&all, 0xFF, sizeof(all));
  int error = posix_spawnattr_setsigmask(&attr, &none);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attr, &all);
  if (error == 0)
    error = posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  return error;
}

// Fills the file actions: working folder, standard streams, the channel,
// no other descriptor of ours.
int PrepareFileActions(posix_spawn_file_actions_t& actions, const SpawnRequest& request) {
  int error = 0;
  if (!request.working_folder.empty())
    error = posix_spawn_file_actions_addchdir_np(&actions, request.working_folder.c_str());
  if (request.hidden) {
    for (int fd = 0; fd <= 2 && error == 0; ++fd)
      error = posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                               fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  int first_closed = kChannelFd;
  if (request.channel >= 0 && error == 0) {
    // dup2 onto the fixed descriptor clears close-on-exec there, and only there.
    error = posix_spawn_file_actions_adddup2(&actions, request.channel, kChannelFd);
    first_closed = kChannelFd + 1;
  }
  if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions, first_closed);
  return error;
}

// Starts |request| and returns the child's pidfd, or none with the last
// error set. The exec has succeeded when this returns a pidfd.
ScopedFd Spawn(const SpawnRequest& request, pid_t& pid) {
  std::vector<char*> argv;
  for (const std::string& arg : request.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_init(&actions);
  int error = PrepareAttributes(attr);
  if (error == 0) error = PrepareFileActions(actions, request);
  if (error == 0) {
    error = request.search_path ? posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ)
                                : posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (error != 0) {
    KaOSAL::SetLastErrorFromErrno(error);
    return ScopedFd();
  }
  ScopedFd pidfd(pidfd_open(pid, 0));  // pidfds are close-on-exec
  if (pidfd.get() < 0) {
    // Unheld, the child could not be followed: end and reap it at once.
    const int saved = errno;
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    KaOSAL::SetLastErrorFromErrno(saved);
  }
  return pidfd;
}

// The target without surrounding quotes, when it is one quoted text.
std::string Unquoted(const std::string& target) {
  if (target.size() >= 2 && target.front() == '"' && target.back() == '"' &&
      target.find('"', 1) == target.size() - 1)
    return target.substr(1, target.size() - 2);
  return target;
}

// True for a URL ("scheme://...", "mailto:...") that the opener handles.
bool IsUrl(const std::string& target) {
  const size_t colon = target.find(':');
  if (colon == std::string::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i) {
    const char c = target[i];
    const bool scheme_char =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!scheme_char) return false;
  }
  return target.compare(colon, 3, "://") == 0 || target.compare(0, colon, "mailto") == 0;
}

// Runs xdg-open on |target| and waits for its verdict.
bool RunOpener(const std::string& target, const std::string& working_folder) {
  SpawnRequest request{{"xdg-open", target}, working_folder, false, true};
  pid_t pid = 0;
  ScopedFd pidfd = Spawn(request, pid);
  if (pidfd.get() < 0) return false;
  if (!PidfdEnded(pidfd.get(), kOpenerVerdictMs)) {
    ReapLater(std::move(pidfd), static_cast<uint32_t>(pid));
    return true;
  }
  siginfo_t info{};
  const int reaped =
      waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd.get()), &info, WEXITED);
  if (reaped == 0 && info.si_code == CLD_EXITED && info.si_status == 0) return true;
  LogW(kLogNotable, u"Process: xdg-open refused %S", target.c_str());
  KaOSAL::SetLastError(kErrorNoAssociation);
  return false;
}

}  // namespace

bool TakeProcessSnapshot(std::vector<ProcessSnapshotEntry>& entries) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    KaOSAL::SetLastErrorFromErrno(errno);
    LogW(kLogSysFail, u"Process: /proc cannot be read, errno %d", errno);
    return false;
  }
  const size_t first = entries.size();
  while (const dirent* item = readdir(proc)) {
    const uint32_t id = ProcessIdOfName(item->d_name);
    if (id == 0) continue;
    std::string comm;
    ProcessSnapshotEntry entry;
    entry.id = id;
    if (!ReadStat(id, comm, entry.start_time)) continue;  // ended meanwhile
    const std::string path = ReadExeLink("/proc/" + std::to_string(id) + "/exe");
    entry.image_path = Wide(path);
    entry.image_name = Wide(path.empty() ? comm : path.substr(path.rfind('/') + 1));
    entries.push_back(std::move(entry));
  }
  closedir(proc);
  std::sort(
      entries.begin() + static_cast<std::ptrdiff_t>(first), entries.end(),
      [](const ProcessSnapshotEntry& a, const ProcessSnapshotEntry& b) { return a.id < b.id; });
  return true;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool PrintForStarter(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

// The pidfd: signals reach the process that was opened even after its id has
// been given to another one.
struct ProcessHandle::Hold {
  ScopedFd pidfd;
};

// The child's pidfd and, since a child is reaped by hand, what its end was.
struct ChildProcess::Hold {
  ScopedFd pidfd;
  bool reaped = false;
  uint32_t exit_code = kStillActive;
  bool terminated = false;  // by Terminate(), which gives the exit code
  uint32_t terminate_code = 0;
};

std::unique_ptr<ProcessHandle> ProcessHandle::Open(const ProcessSnapshotEntry& entry) {
  ScopedFd pidfd(pidfd_open(static_cast<pid_t>(entry.id), 0));
  if (pidfd.get() < 0) {
    // As Windows answers for an id without a process.
    if (errno == ESRCH)
      KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    else
      KaOSAL::SetLastErrorFromErrno(errno);
    return nullptr;
  }
  // The id was held by the pidfd's process from before the snapshot on if the
  // start time still matches, so the pidfd holds the process of the entry.
  std::string comm;
  uint64_t start_time = 0;
  if (!ReadStat(entry.id, comm, start_time) || start_time != entry.start_time) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return nullptr;
  }
  // Only a process that we may signal opens, as Windows opens another user's
  // process for termination only for an administrator (signal 0 checks).
  if (pidfd_send_signal(pidfd.get(), 0, nullptr, 0) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return nullptr;
  }
  return std::unique_ptr<ProcessHandle>(
      new ProcessHandle(std::make_unique<Hold>(Hold{std::move(pidfd)}), entry.id));
}

ProcessHandle::ProcessHandle(std::unique_ptr<Hold> held, uint32_t id)
    : held_(std::move(held)), id_(id) {}

ProcessHandle::~ProcessHandle() = default;

bool ProcessHandle::HasEnded() const { return PidfdEnded(held_->pidfd.get(), 0); }

// A signal has no "sent" form: both requests are SIGTERM.
bool ProcessHandle::AskToClose(uint32_t /*send_wait_ms*/) const {
  if (pidfd_send_signal(held_->pidfd.get(), SIGTERM, nullptr, 0) == 0) return true;
  KaOSAL::SetLastErrorFromErrno(errno);
  return false;
}

bool ProcessHandle::Terminate() const {
  if (pidfd_send_signal(held_->pidfd.get(), SIGKILL, nullptr, 0) == 0) return true;
  KaOSAL::SetLastErrorFromErrno(errno);
  return false;
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const StartInfo& info) {
  SpawnRequest request;
  for (const KaOSAL::KaString& arg : SplitCommandLine(info.command_line))
    request.argv.push_back(Native(arg));
  if (request.argv.empty() || request.argv[0].empty()) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return nullptr;
  }
  request.working_folder = Native(info.working_folder);
  request.hidden = info.hidden;
  request.channel = static_cast<int>(info.channel);
  pid_t pid = 0;
  ScopedFd pidfd = Spawn(request, pid);
  if (pidfd.get() < 0) return nullptr;
  auto held = std::make_unique<Hold>();
  held->pidfd = std::move(pidfd);
  return std::unique_ptr<ChildProcess>(
      new ChildProcess(std::move(held), static_cast<uint32_t>(pid)));
}

ChildProcess::ChildProcess(std::unique_ptr<Hold> held, uint32_t id)
    : held_(std::move(held)), id_(id) {}

ChildProcess::~ChildProcess() {
  if (!held_->reaped && ExitCode() == kStillActive) ReapLater(std::move(held_->pidfd), id_);
}

uint32_t ChildProcess::ExitCode() {
  Hold& child = *held_;
  if (child.reaped) return child.exit_code;
  siginfo_t info{};
  if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(child.pidfd.get()), &info,
             WEXITED | WNOHANG) != 0 ||
      info.si_pid == 0)
    return kStillActive;
  child.reaped = true;
  if (info.si_code == CLD_EXITED)
    child.exit_code = static_cast<uint32_t>(info.si_status);
  else
    child.exit_code =
        child.terminated ? child.terminate_code : 128 + static_cast<uint32_t>(info.si_status);
  return child.exit_code;
}

// A started program runs its executable already; Linux has no more to tell.
bool ChildProcess::WaitUntilReady(uint32_t /*timeout_ms*/) { return true; }

bool ChildProcess::WaitForExit(uint32_t timeout_ms) {
  if (held_->reaped) return true;
  const int wait_ms =
      timeout_ms == kInfinite ? -1 : static_cast<int>(std::min(timeout_ms, 0x7FFFFFFFu));
  return PidfdEnded(held_->pidfd.get(), wait_ms) && ExitCode() != kStillActive;
}

bool ChildProcess::Terminate(uint32_t exit_code) {
  Hold& child = *held_;
  if (child.reaped || pidfd_send_signal(child.pidfd.get(), SIGKILL, nullptr, 0) != 0) {
    // An ended child cannot be terminated, as on Windows.
    KaOSAL::SetLastError(child.reaped ? KaOSAL::kErrorAccessDenied
                                      : KaOSAL::Win32ErrorFromErrno(errno));
    return false;
  }
  child.terminated = true;
  child.terminate_code = exit_code;
  return true;
}

bool ShellOpen(const KaOSAL::KaString& target, const KaOSAL::KaString& working_folder) {
  const std::string text = Unquoted(Native(target));
  const std::string folder = Native(working_folder);
  if (IsUrl(text)) return RunOpener(text, folder);
  const std::string path =
      text.empty() || text[0] == '/' || folder.empty() ? text : folder + "/" + text;
  struct stat info {};
  if (text.empty() || stat(path.c_str(), &info) != 0) {
    KaOSAL::SetLastError(KaOSAL::kErrorFileNotFound);
    return false;
  }
  if (S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0) {
    // A program is started as the desktop's launcher would, not opened as a
    // document: xdg-open would hand an executable to whatever handles its
    // file type.
    const StartInfo start{u"\"" + Wide(path) + u"\"", working_folder, false};
    return ChildProcess::Start(start) != nullptr;
  }
  return RunOpener(path, folder);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return {argv + std::min(argc, 1), argv + argc};
}

}  // namespace wardex::platform
