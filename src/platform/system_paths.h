// Where the user's state lives, the program's own files, and the user's
// default language. Paths are UTF-16 with "/" separators; folders are
// returned without a trailing separator. The Linux folders behind these, and
// the paths below the machine root, are in system_paths_linux.h.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"

namespace wardex::platform {

// WARDEX_ROOT when it is set but ignored for not being an absolute path, so
// that the agent can say so; else empty. An absolute one relocates every
// machine-wide path, so that tests and demos never touch the machine's own.
KaOSAL::KaString GetIgnoredMachineRoot();

// The user's folders for state that outlives a run (logs, switches) and for
// data that can be fetched again (downloads). Linux: XDG_STATE_HOME
// (~/.local/state) and XDG_CACHE_HOME (~/.cache); Windows: both the user's
// local application data folder.
KaOSAL::KaString GetUserStateFolder();
KaOSAL::KaString GetUserCacheFolder();

// The user's home folder (Linux: $HOME when absolute, else the password
// database's entry, else "/"; Windows: the user's profile folder), or empty
// with the last error set.
KaOSAL::KaString GetUserHomeFolder();

// The common application data folder, where every user may create folders
// (Linux: var/lib/wardex/common below the machine root).
KaOSAL::KaString GetCommonAppDataFolder();

// The full path of the running executable (KaPath's special folder 43), or
// empty with the last error set.
KaOSAL::KaString GetExecutableFilePath();
// The full path of the executable or shared library that holds |address|,
// or empty with the last error set.
KaOSAL::KaString GetModuleFilePathOf(const void* address);

// The user's default language identifier (LANGID). Linux: from the POSIX
// locale, the first non-empty of LC_ALL, LC_MESSAGES and LANG; "C", "POSIX",
// an unset locale and a language the table does not know give 0x0409.
uint16_t GetUserDefaultLangID();

}  // namespace wardex::platform
