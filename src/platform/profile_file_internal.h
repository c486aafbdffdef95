// What profile files need of the system: reading a whole file, the lock a
// writer holds while it reads, changes and replaces a file, and the
// replacement itself. Paths are UTF-8. Failures set the last error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wardex::platform {

// Reads the whole regular file |path|; false with the last error set (2 when
// there is no such file, or none that may be read). With |shared_max_bytes|
// above 0 it is a file that other users can place in a folder they share:
// opened without following a link or blocking, and read only when it is no
// larger than that (on Linux also only when root or this user owns it).
bool ReadProfileFile(const std::string& path, std::string* bytes, size_t shared_max_bytes = 0);

// The file a write of |path| replaces: on Linux the target of a symbolic
// link, so that the link stays.
std::string ProfileWriteTarget(const std::string& path);

// Replaces |path| by |bytes| atomically, so that a crash never leaves half a
// file; an existing file keeps its owner and permissions.
bool ReplaceProfileFile(const std::string& path, const std::string& bytes);

// Held while a write reads, changes and replaces |path|, so that concurrent
// writers of any process do not lose each other's changes. Another holder is
// never waited for long: about 2 s of tries 10 ms apart, then refused().
class ProfileWriteLock {
 public:
  explicit ProfileWriteLock(const std::string& path);
  ~ProfileWriteLock();
  ProfileWriteLock(const ProfileWriteLock&) = delete;
  ProfileWriteLock& operator=(const ProfileWriteLock&) = delete;

  // True when another writer held the lock through every try.
  [[nodiscard]] bool refused() const { return refused_; }

 private:
  static constexpr int kTries = 200;
  static constexpr uint32_t kRetryMs = 10;
  intptr_t handle_;  // the locked folder's descriptor, or the system's mutex
  bool refused_ = false;
};

}  // namespace wardex::platform
