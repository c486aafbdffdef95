// A Windows command line split into its arguments, so that a program started
// from one text (the quoted path and the arguments) gets the argument vector
// that the same text would give a Windows program.
#pragma once

#include <string>
#include <vector>

#include "osal/ka_string.h"

namespace wardex::platform {

// Splits |command_line| by the Windows rules: the program name runs to the
// closing quote when it starts with one (backslashes are kept as they are),
// else to the first blank or tab. In the arguments that follow, blanks and
// tabs separate outside quotes; 2n backslashes before a quote give n
// backslashes and the quote opens or closes a quoted part; 2n+1 backslashes
// before a quote give n backslashes and a literal quote; "" inside a quoted
// part is a literal quote; other backslashes are literal.
[[nodiscard]] std::vector<KaOSAL::KaString> SplitCommandLine(const KaOSAL::KaString& command_line);

// |argument| as one argument of a command line, quoted by those rules where
// it must be (an empty one, or one with a blank, tab or quote).
[[nodiscard]] KaOSAL::KaString QuoteArgument(const KaOSAL::KaString& argument);

// The running program's arguments after its name, in UTF-8, from main's
// |argc| and |argv|: on Windows argv has them in the ANSI code page only, so
// they come from the wide command line instead.
[[nodiscard]] std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace wardex::platform
