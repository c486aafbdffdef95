// Product identity and text placeholders. Texts and registry paths carry
// placeholders such as "%company%" or "%PROSILVER%" instead of product names;
// the names come from the product file and the installed edition.
#pragma once

#include "osal/ka_string.h"

namespace wardex {

// Replaces, in place, every placeholder in |text|: the nine identity values in
// their lower-case, capitalised and upper-case forms, 27 replacements in a
// fixed order. The identity is read once per process, at the first call.
void ExpandPlaceholders(KaOSAL::KaString& text);

}  // namespace wardex
