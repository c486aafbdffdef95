// The writer of wide JSON texts: compact by default.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

namespace wardex {

class CJsonValue;

// Writer flag bits; Wardex itself always writes with 0.
enum : uint32_t {
  kJsonWriteUnquotedNames = 0x01,   // names that need no quotes go without
  kJsonWriteLocaleDates = 0x02,     // dates as "M/D/YYYY H:MM:SS" instead of the fixed format
  kJsonWritePrettyTabs = 0x04,      // one entry per line, indented with tabs
  kJsonWritePrettySpaces = 0x08,    // one entry per line, indented with spaces
  kJsonWriteMinimalEscapes = 0x40,  // escape only the double quote and the backslash
  kJsonWriteSingleQuotes = 0x80,    // single quotes where the text holds none
  kJsonWriteSortedNames = 0x100,    // members in name order
};

struct CJsonWriteOptions {
  std::chars_format number_format = std::chars_format::fixed;  // "%.*f"
  int precision = 6;
  int indent_width = 2;  // spaces per level with kJsonWritePrettySpaces
};

// Appends the text of |value| to |out|.
void WriteJson(const CJsonValue& value, uint32_t flags, const CJsonWriteOptions& options,
               std::u16string& out);

}  // namespace wardex
