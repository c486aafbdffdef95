#include "osal/code_page.h"

#include "osal/ka_string.h"
#include "osal/wide_format.h"
#include "platform/code_page_converter.h"

namespace KaOSAL::detail {
namespace {

bool IsUtf8Page(unsigned codepage) { return codepage == KA_CP_ACP || codepage == KA_CP_UTF8; }

}  // namespace

std::u16string WidenText(const char* text, size_t length, unsigned codepage) {
  if (text == nullptr || length == 0) return {};
  if (IsUtf8Page(codepage)) return FromUtf8(text, length);
  if (codepage != KA_CP_7BIT) {
    return wardex::platform::WidenFromCodePage(text, length, codepage).value_or(u"");
  }
  std::u16string wide(length, u'?');
  for (size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) wide[i] = byte;
  }
  return wide;
}

std::string NarrowText(const char16_t* text, size_t length, unsigned codepage) {
  if (text == nullptr || length == 0) return {};
  if (IsUtf8Page(codepage)) return ToUtf8(text, length);
  if (codepage != KA_CP_7BIT) {
    return wardex::platform::NarrowToCodePage(text, length, codepage).value_or("");
  }
  std::string narrow(length, '?');
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < 0x80) narrow[i] = static_cast<char>(text[i]);
  }
  return narrow;
}

}  // namespace KaOSAL::detail
