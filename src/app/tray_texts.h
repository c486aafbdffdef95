// The tray's localised texts: looked up in the language's Texts.ini with
// their placeholders expanded.
#pragma once

#include "osal/ka_string.h"

namespace wardex {

// The text |id| (IDS_...), or empty.
[[nodiscard]] KaOSAL::KaString TrayText(const char16_t* id);

// The start entry's text: IDS_STRING_RUN formatted with |product_name|.
[[nodiscard]] KaOSAL::KaString FormatStartEntry(const KaOSAL::KaString& product_name);

// install.cfg's product name (install/ProductName).
[[nodiscard]] KaOSAL::KaString ReadProductName();

}  // namespace wardex
