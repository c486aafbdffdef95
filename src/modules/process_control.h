// The agent's process services: starting a program with a fallback through
// the desktop's "open", telling whether a process of an image name runs, and
// asking the processes of an image name to close, ending them after a grace
// time. All of them block the calling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "osal/ka_string.h"

namespace wardex {

// The grace time that the unregister step gives other running agents.
inline constexpr uint32_t kUnregisterCloseGraceMs = 6000;

// One running process.
struct ProcessEntry {
  KaOSAL::KaString image_name;  // file name and extension
  KaOSAL::KaString image_path;  // full path; empty when it cannot be read
  uint32_t process_id = 0;
};

// Which processes FindProcesses returns: those matching any image, each
// image name compared without regard to case, its path too unless empty.
struct ProcessFilter {
  struct Image {
    KaOSAL::KaString name;
    KaOSAL::KaString path;  // empty: any path
  };
  std::vector<Image> images;
  bool exclude_self = false;  // leave out the calling process
};

// Starts |path| (quoted) with |arguments| (null or empty for none) in the
// path's folder, hidden when |hidden| is set. With |exit_wait_ms| above 0 it
// waits for the program's end, polling every 1 ms, and ends it when the wait
// elapses or |*cancel| becomes non-zero (result 1067). A program that cannot
// be started directly is opened through the desktop once. |idle_wait_ms| is
// the longest wait for the program to be ready for input; one that is not
// ready in time is neither waited for nor opened again (decision 037); on
// Linux a started program is ready as soon as it runs. Returns 0 or the error
// code (2 for a missing program).
[[nodiscard]] uint32_t RunProgram(const char16_t* path, const char16_t* arguments,
                                  uint32_t idle_wait_ms, uint8_t hidden, uint32_t exit_wait_ms,
                                  const std::atomic<uint8_t>* cancel);

// The processes that match |filter|, in snapshot (ascending id) order; a
// process matching several images appears once for each.
[[nodiscard]] std::vector<ProcessEntry> FindProcesses(const ProcessFilter& filter);

// True when the first process of |image_name| (and |image_path| unless
// empty) has not ended; its id is stored in |*process_id| when given.
[[nodiscard]] bool IsProcessRunning(const KaOSAL::KaString& image_name,
                                    const KaOSAL::KaString& image_path, bool exclude_self,
                                    uint32_t* process_id);

// Asks every other process of |image_name| (and |image_path| unless empty)
// that we may signal to close (SIGTERM), all at once, and ends by force those
// that have not ended once |grace_ms| passed: the call returns within about
// |grace_ms| however many processes it found. On Windows |send| sends the
// close message, waiting within the same grace time for each window to
// handle it, where clear posts it; a signal has one form.
void CloseProcessesByName(const KaOSAL::KaString& image_name, const KaOSAL::KaString& image_path,
                          uint8_t send, uint32_t grace_ms);

}  // namespace wardex
