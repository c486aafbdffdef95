// Whole-file replacement that never leaves a half-written file, shared by the
// profile writer and the autostart and task writers.
#pragma once

#include <sys/stat.h>

#include <string>

namespace wardex::platform {

// The folder part of |path| ("." when it has none).
std::string FolderOf(const std::string& path);

// A fresh name for a temporary file in the folder of |path|, unique in this
// process.
std::string TemporaryNameBeside(const std::string& path);

// Replaces |path| by |bytes| atomically: a temporary file beside it, synced,
// renamed over it, and the folder synced so that the rename is durable too.
// Keeps the mode and owner of |old_info| when given, and then fails (EACCES)
// when the caller may not write the file itself; a new file gets
// |new_mode| exactly, or 0666 less the umask when it is -1. False with errno
// set, and no temporary file left behind.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                           const struct stat* old_info, int new_mode = -1);

}  // namespace wardex::platform
