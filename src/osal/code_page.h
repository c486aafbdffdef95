// Conversion of 8-bit text in a code page to and from wide text. The pages
// are the system page (0, UTF-8 on Linux), UTF-8 (65001), the 7-bit page
// (65002), where every character from 128 up becomes "?", and every page the
// system's converter knows (Windows-125x, ISO-8859, ...: see
// platform/code_page_converter.h). A page it does not know gives no text.
#pragma once

#include <cstddef>
#include <string>

namespace KaOSAL::detail {

// Wide text for |length| bytes of |text|; empty for no input or an unknown page.
std::u16string WidenText(const char* text, size_t length, unsigned codepage);
// 8-bit text for |length| characters of |text|; empty for no input or an unknown page.
std::string NarrowText(const char16_t* text, size_t length, unsigned codepage);

}  // namespace KaOSAL::detail
