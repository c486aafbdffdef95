// Linux only: the machine root that every machine-wide path derives from,
// the XDG base folders, and POSIX locale names.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"

namespace wardex::platform {

// WARDEX_ROOT, or "/" when it is unset or not an absolute path.
KaOSAL::KaString GetMachineRoot();
// |relative| (e.g. u"var/lib/wardex") below the machine root.
KaOSAL::KaString GetMachinePath(const char16_t* relative);

// The XDG base folders, with their usual places below $HOME when the
// variable is unset or not absolute (the state and cache folders are in
// system_paths.h).
KaOSAL::KaString GetUserDataFolder();    // XDG_DATA_HOME, ~/.local/share
KaOSAL::KaString GetUserConfigFolder();  // XDG_CONFIG_HOME, ~/.config
// XDG_RUNTIME_DIR, or empty when it is unset.
KaOSAL::KaString GetUserRuntimeFolder();

// The LANGID of a POSIX locale name such as "de_AT.UTF-8" or "sr_RS@latin":
// the exact language and country, else the language's main country.
uint16_t LangIdFromLocaleName(const char* locale);

}  // namespace wardex::platform
