// File-name patterns as the Windows file search matches them.
#pragma once

#include "osal/ka_string.h"

namespace wardex {

// True when |name| matches |pattern| without regard to case: "*" matches any
// run of characters (but not the name's last dot when a "." follows it), "?"
// any one character but a dot (at a dot or the end of the name it matches
// nothing); a "." before "?" or "*" also matches the end of the name, so
// "x.*" matches "x"; "*.*" matches every name, and a trailing "." matches a
// name without a dot.
bool MatchesFilePattern(const KaOSAL::KaString& name, const KaOSAL::KaString& pattern);

}  // namespace wardex
