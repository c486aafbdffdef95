// The language code of the operating system's user interface language.
#pragma once

#include <cstdint>

#include "osal/ka_string.h"

namespace wardex {

// The language code ("de_DE", "en_UK", ...) of a Windows language identifier,
// or the identifier as "[%X]" when the table does not know it.
KaOSAL::KaString LanguageCodeFromLangId(uint16_t langid);

// The language code of the user's default language.
KaOSAL::KaString GetOperatingSystemLanguageCode();

}  // namespace wardex
