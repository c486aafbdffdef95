#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "osal/last_error.h"
#include "platform/registry_store.h"
#include "platform/registry_writer_lock_internal.h"

namespace wardex::platform::registry {

namespace {

// A wait for the writer lock, shared by the caller and the thread that waits.
struct PendingWriterLock {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool abandoned = false;
  int error = 0;  // errno of a failed flock
};

}  // namespace

// The kernel's wait has no time-out of its own, so a contended wait runs on
// a thread that the caller gives up on after kHiveWaitMs; that thread then
// closes the file (releasing the lock) whenever the lock comes.
ScopedFd TakeWriterLock(const std::string& file, bool shared, uint32_t* error) {
  ScopedFd fd(open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, shared ? 0644 : 0600));
  if (fd.get() < 0) {
    *error = KaOSAL::Win32ErrorFromErrno(errno);
    return fd;
  }
  if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return fd;
  auto pending = std::make_shared<PendingWriterLock>();
  const int lock_fd = fd.release();
  try {
    std::thread([pending, lock_fd] {
      int result = 0;
      while ((result = flock(lock_fd, LOCK_EX)) != 0 && errno == EINTR) {
      }
      std::lock_guard<std::mutex> lock(pending->mutex);
      pending->finished = true;
      pending->error = result == 0 ? 0 : errno;
      if (pending->abandoned) {
        close(lock_fd);
      } else {
        pending->done.notify_one();
      }
    }).detach();
  } catch (const std::system_error&) {
    close(lock_fd);
    *error = KaOSAL::kErrorNotEnoughMemory;
    return ScopedFd();
  }
  std::unique_lock<std::mutex> lock(pending->mutex);
  if (!pending->done.wait_for(lock, std::chrono::milliseconds(kHiveWaitMs),
                              [&] { return pending->finished; })) {
    pending->abandoned = true;
    *error = kErrorHiveBusy;
    return ScopedFd();
  }
  ScopedFd held(lock_fd);
  if (pending->error != 0) {
    *error = KaOSAL::Win32ErrorFromErrno(pending->error);
    return ScopedFd();
  }
  return held;
}

}  // namespace wardex::platform::registry
