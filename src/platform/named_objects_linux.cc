// Named semaphores on flock, named events on a futex in a shared file
// mapping (futexes work across processes on a MAP_SHARED file page) that
// lives as long as some handle holds a lock on it.
#include "platform/named_objects.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <string>

#include "osal/last_error.h"
#include "osal/wide_format.h"
#include "platform/runtime_dir_posix.h"
#include "platform/scoped_fd_posix.h"
#include "platform/thread.h"

namespace wardex::platform {
namespace {

constexpr mode_t kFileMode = 0600;
constexpr size_t kEventFileSize = 4096;
// A creator that meets only shared locks (processes testing existence) tries
// again this many times, 1 ms apart.
constexpr int kCreateAttempts = 100;

// Returns |name| in UTF-8 with the bytes that are unsafe in a file name escaped.
std::string EscapeName(const KaOSAL::KaString& name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::string utf8 = KaOSAL::ToUtf8(name.c_str(), static_cast<size_t>(name.GetLength()));
  std::string escaped;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                       (byte >= '0' && byte <= '9') || byte == '_' || byte == '-' || byte == '{' ||
                       byte == '}' || (byte == '.' && i > 0);
    if (plain) {
      escaped += static_cast<char>(byte);
    } else {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0xF];
    }
  }
  return escaped;
}

// Returns the path of the object file "<prefix>.<escaped name>", or empty with
// the last error set.
std::string ObjectPath(const char* prefix, const KaOSAL::KaString& name) {
  if (name.IsEmpty()) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidParameter);
    return {};
  }
  const KaOSAL::KaString folder = GetRuntimeFolder();
  if (folder.IsEmpty()) return {};
  return KaOSAL::ToUtf8(folder.c_str(), static_cast<size_t>(folder.GetLength())) + "/" + prefix +
         "." + EscapeName(name);
}

int OpenExisting(const std::string& path, int flags) {
  return open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW);
}

std::atomic_ref<uint32_t> StateOf(uint32_t* state) { return std::atomic_ref<uint32_t>(*state); }

long Futex(uint32_t* word, int operation, uint32_t value, const timespec* timeout) {
  return syscall(SYS_futex, word, operation, value, timeout, nullptr, 0);
}

// Maps the state word of an event file; null with the last error set.
uint32_t* MapState(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode) || static_cast<size_t>(info.st_size) < kEventFileSize) {
    KaOSAL::SetLastError(KaOSAL::kErrorInvalidHandle);
    return nullptr;
  }
  void* memory = mmap(nullptr, kEventFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return nullptr;
  }
  return static_cast<uint32_t*>(memory);
}

// Open-file-description locks on single bytes of an event file: every open
// handle holds a shared lock on the holder byte, and a process that creates
// or opens a handle holds the guard byte while it looks at the holders, so
// that nobody opens an event in the moment its last holder makes it anew.
constexpr off_t kHolderByte = 0;
constexpr off_t kGuardByte = 1;
// The guard is held for a few system calls; a process of this user stopped
// while holding it costs a creator this many tries, 1 ms apart.
constexpr int kGuardAttempts = 2000;

struct flock ByteLock(short type, off_t byte) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  return lock;
}

bool LockByte(int fd, short type, off_t byte) {
  struct flock lock = ByteLock(type, byte);
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// True when another handle (of any process) holds the event open: an
// exclusive lock on the holder byte would conflict with it.
bool HeldElsewhere(int fd) {
  struct flock lock = ByteLock(F_WRLCK, kHolderByte);
  return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// Takes the guard byte; false with the last error set.
bool TakeGuard(int fd) {
  for (int attempt = 0; attempt < kGuardAttempts; ++attempt) {
    if (LockByte(fd, F_WRLCK, kGuardByte)) return true;
    if (errno != EAGAIN && errno != EACCES) {
      KaOSAL::SetLastErrorFromErrno(errno);
      return false;
    }
    SleepMilliseconds(1);
  }
  KaOSAL::SetLastError(KaOSAL::kErrorTimeout);
  return false;
}

// Makes the file of an event that no handle holds a new event in |state|.
bool ResetEventFile(int fd, bool initially_set) {
  const uint32_t state = initially_set ? 1 : 0;
  if (ftruncate(fd, kEventFileSize) != 0 ||
      pwrite(fd, &state, sizeof(state), 0) != static_cast<ssize_t>(sizeof(state))) {
    KaOSAL::SetLastErrorFromErrno(errno != 0 ? errno : EIO);
    return false;
  }
  return true;
}

}  // namespace

// The descriptor that holds the flock.
struct NamedSemaphore::Hold {
  ScopedFd file;
};

// The event file, held with a shared lock on its holder byte, and the shared
// mapping of its first 4 bytes.
struct NamedEvent::Hold {
  Hold(ScopedFd held_file, uint32_t* mapped_state)
      : file(std::move(held_file)), state(mapped_state) {}
  ~Hold() { munmap(state, kEventFileSize); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

  ScopedFd file;
  uint32_t* state;
};

namespace {

// Takes over |file| of an event file: joins the event that other handles
// hold, else makes it anew in the state |*create_set| (with no |create_set|:
// fails with 2). |*joined| tells which. Null on failure with the last error set.
std::unique_ptr<NamedEvent::Hold> AttachEvent(ScopedFd file, const bool* create_set, bool* joined) {
  const int fd = file.get();
  if (fd < 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return nullptr;
  }
  if (!TakeGuard(fd)) return nullptr;
  *joined = HeldElsewhere(fd);
  bool ok = *joined || create_set != nullptr;
  if (!ok) KaOSAL::SetLastError(KaOSAL::kErrorFileNotFound);  // nobody holds it: it is gone
  if (ok && !*joined) ok = ResetEventFile(fd, *create_set);
  if (ok && !LockByte(fd, F_RDLCK, kHolderByte)) {
    KaOSAL::SetLastErrorFromErrno(errno);
    ok = false;
  }
  (void)LockByte(fd, F_UNLCK, kGuardByte);
  uint32_t* state = ok ? MapState(fd) : nullptr;
  if (state == nullptr) return nullptr;
  return std::make_unique<NamedEvent::Hold>(std::move(file), state);
}

}  // namespace

NamedSemaphore::NamedSemaphore(std::unique_ptr<Hold> held) : held_(std::move(held)) {}

std::unique_ptr<NamedSemaphore> NamedSemaphore::Create(const KaOSAL::KaString& name) {
  const std::string path = ObjectPath("sem", name);
  if (path.empty()) return nullptr;
  ScopedFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode));
  if (fd.get() < 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return nullptr;
  }
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
      KaOSAL::SetLastError(KaOSAL::kErrorSuccess);
      return std::unique_ptr<NamedSemaphore>(
          new NamedSemaphore(std::make_unique<Hold>(Hold{std::move(fd)})));
    }
    if (errno != EWOULDBLOCK) {
      KaOSAL::SetLastErrorFromErrno(errno);
      return nullptr;
    }
    // A shared lock succeeds only when nobody owns the semaphore and the
    // holders are merely looking (Exists).
    if (flock(fd.get(), LOCK_SH | LOCK_NB) != 0) break;
    flock(fd.get(), LOCK_UN);
    SleepMilliseconds(1);
  }
  fd.reset();
  KaOSAL::SetLastError(KaOSAL::kErrorAlreadyExists);
  return std::unique_ptr<NamedSemaphore>(new NamedSemaphore(nullptr));
}

bool NamedSemaphore::Exists(const KaOSAL::KaString& name) {
  const std::string path = ObjectPath("sem", name);
  if (path.empty()) return false;
  ScopedFd fd(OpenExisting(path, O_RDONLY));
  if (fd.get() < 0) {
    KaOSAL::SetLastErrorFromErrno(errno);
    return false;
  }
  const bool owned = flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  fd.reset();  // also drops the shared lock if we got it
  KaOSAL::SetLastError(owned ? KaOSAL::kErrorSuccess : KaOSAL::kErrorFileNotFound);
  return owned;
}

// The file stays: removing it could let a later creator lock a file that is
// no longer the one other processes open.
NamedSemaphore::~NamedSemaphore() = default;

NamedEvent::NamedEvent(std::unique_ptr<Hold> held, bool already_existed)
    : held_(std::move(held)), already_existed_(already_existed) {}

std::unique_ptr<NamedEvent> NamedEvent::Create(const KaOSAL::KaString& name, bool initially_set) {
  const std::string path = ObjectPath("event", name);
  if (path.empty()) return nullptr;
  bool joined = false;
  std::unique_ptr<Hold> held = AttachEvent(
      ScopedFd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode)),
      &initially_set, &joined);
  if (held == nullptr) return nullptr;
  KaOSAL::SetLastError(joined ? KaOSAL::kErrorAlreadyExists : KaOSAL::kErrorSuccess);
  return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(held), joined));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const KaOSAL::KaString& name) {
  const std::string path = ObjectPath("event", name);
  if (path.empty()) return nullptr;
  bool joined = false;
  std::unique_ptr<Hold> held = AttachEvent(ScopedFd(OpenExisting(path, O_RDWR)), nullptr, &joined);
  if (held == nullptr) return nullptr;
  KaOSAL::SetLastError(KaOSAL::kErrorSuccess);
  return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(held), false));
}

NamedEvent::~NamedEvent() = default;

bool NamedEvent::Set() {
  StateOf(held_->state).store(1, std::memory_order_release);
  Futex(held_->state, FUTEX_WAKE, INT_MAX, nullptr);
  return true;
}

bool NamedEvent::Reset() {
  StateOf(held_->state).store(0, std::memory_order_release);
  return true;
}

WaitResult NamedEvent::Wait(uint32_t timeout_ms) {
  using Clock = std::chrono::steady_clock;
  uint32_t* const state = held_->state;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (StateOf(state).load(std::memory_order_acquire) == 0) {
    timespec remaining{};
    if (timeout_ms != kInfinite) {
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return WaitResult::kTimeout;
      const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      remaining = {static_cast<time_t>(nanos / 1'000'000'000),
                   static_cast<long>(nanos % 1'000'000'000)};
    }
    if (Futex(state, FUTEX_WAIT, 0, timeout_ms == kInfinite ? nullptr : &remaining) != 0 &&
        errno != EAGAIN && errno != EINTR && errno != ETIMEDOUT) {
      KaOSAL::SetLastErrorFromErrno(errno);
      return WaitResult::kFailed;
    }
  }
  return WaitResult::kSignaled;
}

}  // namespace wardex::platform
