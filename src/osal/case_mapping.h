// Simple (one character to one character) case mapping for the scripts the
// agent's texts use: Latin-1, Latin Extended-A and -B, Latin Extended
// Additional, Greek and Cyrillic. It does not depend on the process locale, so
// that a string compares and converts the same on every thread and machine.
// Characters outside these blocks, and mappings that change the length (such
// as "ß" to "SS"), are left as they are.
#pragma once

namespace KaOSAL::detail {

char16_t ToUpperChar(char16_t ch);
char16_t ToLowerChar(char16_t ch);

}  // namespace KaOSAL::detail
