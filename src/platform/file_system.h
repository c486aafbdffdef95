// The few file operations the configuration layer and the suite's modules
// need, on UTF-16 paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "osal/ka_string.h"

namespace wardex::platform {

bool FileExists(const KaOSAL::KaString& path);       // a regular file (after symlinks)
bool DirectoryExists(const KaOSAL::KaString& path);  // a folder (after symlinks)
// Copies |source| to |target| unless |target| exists; the new file is made
// complete under a temporary name first. False with the last error set.
[[nodiscard]] bool CopyFileNoOverwrite(const KaOSAL::KaString& source,
                                       const KaOSAL::KaString& target);

// Reads the whole regular file into |bytes|; false with the last error set
// when it cannot be read whole or holds more than |max_bytes|. Writers
// replace files atomically (below), so a reader never sees half a file.
[[nodiscard]] bool ReadWholeFile(const KaOSAL::KaString& path, size_t max_bytes,
                                 std::string* bytes);
// Removes the file |path|; true also when there was none. False with the
// last error set.
bool RemoveFile(const KaOSAL::KaString& path);
// Creates or replaces |path| with |bytes| atomically and durably: a flushed
// temporary file beside it put in its place (Linux: rename and a flush of
// the folder; Windows: ReplaceFileW). False with the last error set.
[[nodiscard]] bool ReplaceFileContent(const KaOSAL::KaString& path, const std::string& bytes);
// Appends |bytes| to |path| in one write at the file's end, making the file
// (for its owner alone on Linux) when missing, so that lines of several
// processes never mix. False with the last error set.
[[nodiscard]] bool AppendToFile(const KaOSAL::KaString& path, const std::string& bytes);

struct DiskSpace {
  uint64_t available_bytes = 0;  // what this user may still fill
  uint64_t total_bytes = 0;
};
// The space of the file system (Windows: the volume) that holds |folder|.
// False with the last error set.
[[nodiscard]] bool GetDiskSpace(const KaOSAL::KaString& folder, DiskSpace* space);

}  // namespace wardex::platform
