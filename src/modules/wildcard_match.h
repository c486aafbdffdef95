// File-name patterns as the Windows file search matches them.
#pragma once

#include "osal/ka_string.h"

namespace wardex {

// True when |name| matches |pattern| without regard to case: "*" matches any
// run of characters, "?" any one character (or none at the end of the name or
// before a dot); "*.*" matches every name, a pattern ending in ".*" also
// matches the name without that extension, and a trailing "." matches a name
// without a dot.
bool MatchesFilePattern(const KaOSAL::KaString& name, const KaOSAL::KaString& pattern);

}  // namespace wardex
