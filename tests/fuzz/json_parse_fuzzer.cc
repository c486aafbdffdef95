// Feeds arbitrary text to the JSON reader with every flag combination. A
// document that parses must write a text that reads back to the same text.
#include "fuzz_input.h"
#include "modules/json_reader.h"
#include "modules/json_value.h"
#include "osal/wide_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the reader flags, the rest is the UTF-8 text.
  const uint32_t flags =
      data[0] & (wardex::kJsonReadUnquotedNames | wardex::kJsonReadHexIntegers |
                 wardex::kJsonReadLeadingZeros | wardex::kJsonReadControlWhiteSpace |
                 wardex::kJsonReadSingleQuotes);
  const std::u16string text = KaOSAL::FromUtf8(reinterpret_cast<const char*>(data + 1), size - 1);

  wardex::CJsonValue value;
  wardex::CJsonParseError error;
  if (!value.Parse(text, flags, &error)) {
    wardex::fuzz::Require(!error.message.IsEmpty() && error.offset <= text.size() &&
                          error.line >= 1 && error.column >= 1);
    return 0;
  }
  std::u16string written;
  value.Write(written, 0);
  if (value.GetKind() == wardex::JsonKind::kNull) return 0;  // white space or comments only

  // Written strings may hold raw control white space, which needs 0x40.
  wardex::CJsonValue again;
  wardex::fuzz::Require(again.Parse(written, wardex::kJsonReadControlWhiteSpace));
  std::u16string rewritten;
  again.Write(rewritten, 0);
  wardex::fuzz::Require(rewritten == written);
  return 0;
}
