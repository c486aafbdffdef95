// Message templates with numbered inserts, as the platform's message
// formatter reads them: "%1".."%99" insert the arguments by number (a wide
// string unless "%n!fmt!" gives a printf-style directive such as "%2!d!" or
// "%1!08X!"); "%0" ends the text; "%n" is a line break ("\r\n"), "%r" a
// carriage return, "%t" a tab; "%%", "%.", "%!" and "% " give the character
// itself. Arguments are read in number order, so every argument up to the
// highest number used must be passed; an argument whose number does not occur
// is taken to be pointer-sized. Widths and precisions given as "*" are not
// supported.
#pragma once

#include <cstdarg>
#include <string>

namespace KaOSAL::detail {

// Appends the formatted |format| to |out|.
void AppendMessage(std::u16string& out, const char16_t* format, va_list args);

}  // namespace KaOSAL::detail
