// Where the machine's and the user's state lives, the program's own files,
// and the user's default language.
//
// Every machine-wide path derives from one root, "/" unless WARDEX_ROOT names
// another by an absolute path; per-user state follows the XDG variables.
// Paths are UTF-16 with "/" separators; folders are returned without a
// trailing separator.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"

namespace wardex::platform {

// WARDEX_ROOT, or "/" when it is unset or not an absolute path.
KaOSAL::KaString GetMachineRoot();
// WARDEX_ROOT when it is set but ignored for not being an absolute path, so
// that the agent can say so; else empty.
KaOSAL::KaString GetIgnoredMachineRoot();
// |relative| (e.g. u"var/lib/wardex") below the machine root.
KaOSAL::KaString GetMachinePath(const char16_t* relative);

// The XDG base folders, with the defaults of the XDG specification below
// $HOME when the variable is unset or not absolute.
KaOSAL::KaString GetUserDataFolder();    // XDG_DATA_HOME, ~/.local/share
KaOSAL::KaString GetUserConfigFolder();  // XDG_CONFIG_HOME, ~/.config
KaOSAL::KaString GetUserStateFolder();   // XDG_STATE_HOME, ~/.local/state
KaOSAL::KaString GetUserCacheFolder();   // XDG_CACHE_HOME, ~/.cache
// XDG_RUNTIME_DIR, or empty when it is unset.
KaOSAL::KaString GetUserRuntimeFolder();

// The common application data folder, $WARDEX_ROOT/var/lib/wardex/common,
// where every user may create folders.
KaOSAL::KaString GetCommonAppDataFolder();

// The full path of the running executable (KaPath's special folder 43), or
// empty with the last error set.
KaOSAL::KaString GetExecutableFilePath();
// The full path of the executable or shared library that holds |address|,
// or empty with the last error set.
KaOSAL::KaString GetModuleFilePathOf(const void* address);

// The user's default language identifier (LANGID) from the POSIX locale:
// the first non-empty of LC_ALL, LC_MESSAGES and LANG. "C", "POSIX", an unset
// locale and a language the table does not know give 0x0409.
uint16_t GetUserDefaultLangID();
// The LANGID of a POSIX locale name such as "de_AT.UTF-8" or "sr_RS@latin":
// the exact language and country, else the language's main country.
uint16_t LangIdFromLocaleName(const char* locale);

}  // namespace wardex::platform
