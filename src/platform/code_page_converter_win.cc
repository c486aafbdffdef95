#include "platform/code_page_converter.h"

#include <windows.h>

#include <climits>
#include <string>

namespace wardex::platform {
namespace {

// The replacement character for what a code page cannot hold. Some pages
// (UTF-7, UTF-8, GB18030, the ISO-2022 ones) refuse any replacement of the
// caller's and use their own.
constexpr char kDefaultChar[] = "?";

int NarrowWithReplacement(unsigned codepage, const wchar_t* text, int length, char* out,
                          int out_size) {
  const int result =
      WideCharToMultiByte(codepage, 0, text, length, out, out_size, kDefaultChar, nullptr);
  if (result != 0 || ::GetLastError() != ERROR_INVALID_PARAMETER) return result;
  return WideCharToMultiByte(codepage, 0, text, length, out, out_size, nullptr, nullptr);
}

// Pages that hold every character, where a surrogate pair is one character.
bool HoldsEveryCharacter(unsigned codepage) {
  return codepage == CP_UTF7 || codepage == CP_UTF8 || codepage == 54936;  // GB18030
}

// |text| with each surrogate pair as one "?": the system would narrow a
// character outside the Basic Multilingual Plane to two.
std::u16string OneUnitPerCharacter(const char16_t* text, size_t length) {
  std::u16string units;
  units.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < length &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    units.push_back(pair ? u'?' : text[i]);
    if (pair) ++i;
  }
  return units;
}

}  // namespace

std::optional<std::u16string> WidenFromCodePage(const char* text, size_t length,
                                                unsigned codepage) {
  if (length > INT_MAX || !IsValidCodePage(codepage)) return std::nullopt;
  const int size = static_cast<int>(length);
  const int needed = MultiByteToWideChar(codepage, 0, text, size, nullptr, 0);
  if (needed <= 0) return std::nullopt;
  std::u16string wide(static_cast<size_t>(needed), u'\0');
  if (MultiByteToWideChar(codepage, 0, text, size, reinterpret_cast<wchar_t*>(wide.data()),
                          needed) != needed) {
    return std::nullopt;
  }
  return wide;
}

std::optional<std::string> NarrowToCodePage(const char16_t* text, size_t length,
                                            unsigned codepage) {
  if (length > INT_MAX || !IsValidCodePage(codepage)) return std::nullopt;
  std::u16string units;
  if (!HoldsEveryCharacter(codepage)) {
    units = OneUnitPerCharacter(text, length);
    text = units.data();
    length = units.size();
  }
  const auto* wide = reinterpret_cast<const wchar_t*>(text);
  const int size = static_cast<int>(length);
  const int needed = NarrowWithReplacement(codepage, wide, size, nullptr, 0);
  if (needed <= 0) return std::nullopt;
  std::string narrow(static_cast<size_t>(needed), '\0');
  if (NarrowWithReplacement(codepage, wide, size, narrow.data(), needed) != needed) {
    return std::nullopt;
  }
  return narrow;
}

}  // namespace wardex::platform
