// The one printf-style formatter for wide text, following the Windows
// wide-format rules: %s is a wide (char16_t) string, %S a narrow (UTF-8)
// one; %c a wide character, %C a narrow one; %I64d/%I64u/%I64x, %I32d,
// %lld, %ld/%lu (32-bit, as on Windows), %hd, %d %i %u %x %X %o, %e %E %f
// %g %G %a with flags "-+ #0", width and precision (also as "*"), %p, %%.
// A null string argument prints "(null)". glibc's swprintf is never used:
// its %s means narrow text.
#pragma once

#include <cstdarg>
#include <string>

#include "osal/osal_export.h"

namespace KaOSAL {

// Appends the formatted text to |out|.
KAOSAL_API void AppendFormatV(std::u16string& out, const char16_t* format, va_list args);
KAOSAL_API void AppendFormat(std::u16string& out, const char16_t* format, ...);
KAOSAL_API std::u16string FormatWide(const char16_t* format, ...);

// UTF-8 <-> UTF-16 at the edges (pipe, network, files). Invalid input is
// replaced with U+FFFD, never dropped silently.
KAOSAL_API std::string ToUtf8(const char16_t* text, size_t length);
KAOSAL_API std::string ToUtf8(const std::u16string& text);
KAOSAL_API std::u16string FromUtf8(const char* text, size_t length);
KAOSAL_API std::u16string FromUtf8(const std::string& text);

}  // namespace KaOSAL
