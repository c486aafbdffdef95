// Processes as the agent needs them: starting a program of its own and
// following it to its end, a snapshot of the running processes, holding
// another process so that it can be asked to close and ended by force, and
// the desktop's "open" for documents, links and programs.
//
// Only a child of ours has a readable exit code; of any other process the
// agent can only tell whether it has ended.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "osal/ka_string.h"
#include "platform/native_handle.h"
#include "platform/thread.h"  // kStillActive

namespace wardex::platform {

// One process of a snapshot.
struct ProcessSnapshotEntry {
  uint32_t id = 0;
  // When the process started, in the kernel's clock ticks since boot: with
  // the id it names one process, so that a reused id is told apart.
  uint64_t start_time = 0;
  KaOSAL::KaString image_name;  // file name and extension of its executable
  KaOSAL::KaString image_path;  // full path of its executable; empty when unreadable
};

// Appends the running processes to |entries| in ascending id order. False
// with the last error set when the process list cannot be read.
[[nodiscard]] bool TakeProcessSnapshot(std::vector<ProcessSnapshotEntry>& entries);

// The id of the calling process.
[[nodiscard]] uint32_t CurrentProcessId();

// Prints |text| where the user who started the program reads it: on its
// standard output or, for a Windows GUI program that a console started
// (which gets no standard streams), in that console. False if neither took
// it whole. Only for a program about to end: an attached program ends when
// that console closes.
[[nodiscard]] bool PrintForStarter(std::string_view text);

// A process that is not our child, held so that signals reach the process
// that was opened even after its id has been given to another one.
class ProcessHandle {
 public:
  // Opens the process of |entry|. Null with the last error set when it has
  // gone or its id now belongs to a process started later (87), or when we
  // may not signal it (5: another user's process, unless we are root).
  [[nodiscard]] static std::unique_ptr<ProcessHandle> Open(const ProcessSnapshotEntry& entry);
  ~ProcessHandle();
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  // True once the process has ended (a zombie has ended too).
  [[nodiscard]] bool HasEnded() const;
  // Asks the process to close its windows: SIGTERM on Linux; on Windows
  // WM_CLOSE to each of its top-level windows (none for a process without
  // windows, which then goes on running), posted when |send_wait_ms| is 0,
  // else sent, waiting at most that long in all for the windows to handle
  // it. False with the last error set when it cannot be asked (5 for another
  // user's process).
  [[nodiscard]] bool AskToClose(uint32_t send_wait_ms) const;
  // Ends the process by force: SIGKILL, on Windows with exit code 0. False
  // with the last error set.
  [[nodiscard]] bool Terminate() const;
  [[nodiscard]] uint32_t id() const { return id_; }

  // The platform's hold on the process.
  struct Hold;

 private:
  ProcessHandle(std::unique_ptr<Hold> held, uint32_t id);
  std::unique_ptr<Hold> held_;
  uint32_t id_;
};

// How a program is started.
struct StartInfo {
  // The whole command line, split by the Windows rules (command_line.h); the
  // first element names the executable file, which is not searched in PATH.
  KaOSAL::KaString command_line;
  KaOSAL::KaString working_folder;  // empty: the caller's
  // Hidden: the program gets no terminal, its standard input and output go
  // to /dev/null. Otherwise it shares the agent's.
  bool hidden = false;
  // A channel between the two that the program inherits: on Linux it is the
  // program's descriptor 3, the one it has beyond 0 to 2; on Windows the
  // program gets the handle under the same value. kNoNativeHandle for none.
  NativeHandle channel = kNoNativeHandle;
};

// A program that we started, followed until its end. The child is reaped in
// every case: by ExitCode() once it has ended, else by a reaper thread when
// the handle is destroyed before that.
class ChildProcess {
 public:
  // Starts the program and returns once its executable runs (the exec
  // succeeded), so that a started child is always ready. Null with the last
  // error set when the program cannot be started (2 missing, 5 not
  // executable, 193 not an executable format...).
  [[nodiscard]] static std::unique_ptr<ChildProcess> Start(const StartInfo& info);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // kStillActive while the child runs, then its exit status; a child ended
  // by a signal reports 128 plus the signal number, one ended through
  // Terminate() the code given there.
  [[nodiscard]] uint32_t ExitCode();
  // Waits up to |timeout_ms| until the child waits for input, as a program
  // that has shown its first window does: true once it does, or at once when
  // that cannot be told (a program without a message queue, every program on
  // Linux); false when the time ran out or the child ended first.
  [[nodiscard]] bool WaitUntilReady(uint32_t timeout_ms);
  // Waits up to |timeout_ms| (kInfinite: no limit) for the child to end;
  // true once it has, its exit code then read as ExitCode() reads it.
  [[nodiscard]] bool WaitForExit(uint32_t timeout_ms);
  // Ends the child by force (SIGKILL) and records |exit_code| as its exit
  // code. False with the last error set when it cannot be signalled.
  [[nodiscard]] bool Terminate(uint32_t exit_code);
  [[nodiscard]] uint32_t id() const { return id_; }

  // The platform's hold on the child and what it knows of the child's end.
  struct Hold;

 private:
  ChildProcess(std::unique_ptr<Hold> held, uint32_t id);
  std::unique_ptr<Hold> held_;
  uint32_t id_;
};

// The desktop's "open" for |target| with |working_folder| as the opener's
// working folder: a URL, or an existing document or folder, is handed to
// xdg-open; an existing regular file that we may execute is started as a
// program. A target that is a whole quoted text is taken without the quotes.
// False with the last error set: 2 when the target does not exist, 1155 when
// the opener refused it, the start error for a program.
[[nodiscard]] bool ShellOpen(const KaOSAL::KaString& target,
                             const KaOSAL::KaString& working_folder);

}  // namespace wardex::platform
