// A hive's writer lock: an exclusive flock of the ".lock" file beside the
// hive, on a descriptor of its own, so that the threads of one process queue
// like other processes. Writers queue on it in the kernel because SQLite's
// busy handler polls, and a steady writer could starve another past any
// time-out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/scoped_fd_posix.h"

namespace wardex::platform::registry {

// Takes the writer lock of the hive |file|, creating the lock file readable
// by every user for a |shared| hive, private otherwise; waits at most
// kHiveWaitMs. Returns the descriptor that holds the lock, or none with
// |*error| set: kErrorHiveBusy when the wait ran out, else the Win32 code
// of the failure.
[[nodiscard]] ScopedFd TakeWriterLock(const std::string& file, bool shared, uint32_t* error);

}  // namespace wardex::platform::registry
