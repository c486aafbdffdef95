// Conversion between 8-bit text in a Windows code page (the Windows-125x,
// ISO-8859 and the system's other converters) and UTF-16. Built into
// libkaosal, whose code-page conversion it serves; it includes no header of
// this project, so the layer below the platform can use it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace wardex::platform {

// The UTF-16 text of |length| bytes in |codepage|; a byte sequence that the
// page does not define becomes U+FFFD. Nullopt when the system has no
// converter for the page.
std::optional<std::u16string> WidenFromCodePage(const char* text, size_t length, unsigned codepage);
// The text of |length| UTF-16 units in |codepage|; a character that the page
// cannot hold becomes "?". Nullopt when the system has no converter for it.
std::optional<std::string> NarrowToCodePage(const char16_t* text, size_t length, unsigned codepage);

}  // namespace wardex::platform
