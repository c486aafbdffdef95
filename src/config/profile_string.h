// Reading and writing single values of profile (INI) files.
#pragma once

#include "osal/ka_string.h"

namespace wardex {

// The value of |key| in |section| of |file|, or |defaultValue| when the file,
// the section or the key is missing. Values of any length are read whole.
KaOSAL::KaString ReadProfileString(const KaOSAL::KaString& section, const KaOSAL::KaString& key,
                                   const KaOSAL::KaString& defaultValue,
                                   const KaOSAL::KaString& file);

// Writes |value| as |key| of |section| in |file|, keeping the rest of the file.
bool WriteProfileString(const KaOSAL::KaString& section, const KaOSAL::KaString& key,
                        const KaOSAL::KaString& value, const KaOSAL::KaString& file);

}  // namespace wardex
