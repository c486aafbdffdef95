// The character-by-character reader of wide JSON texts, with switchable
// leniencies and exact error texts.
#pragma once

#include <cstdint>
#include <string_view>

namespace wardex {

class CJsonValue;
struct CJsonParseError;

// Reader flag bits.
enum : uint32_t {
  kJsonReadUnquotedNames = 0x01,
  kJsonReadHexIntegers = 0x10,
  kJsonReadLeadingZeros = 0x20,
  kJsonReadControlWhiteSpace = 0x40,  // tab, line feed, carriage return ... between and in tokens
  kJsonReadSingleQuotes = 0x80,
};

// Containers nested deeper than this fail with kJsonErrorTooDeep: the reader
// takes text from other programs, and every level costs memory and stack in
// the value tree's copy, write and destruction.
inline constexpr int kJsonMaxDepth = 512;
inline constexpr char16_t kJsonErrorTooDeep[] =
    u"Invalid format, arrays and objects nested deeper than 512 levels.";

// More values than this below the root fail with kJsonErrorTooManyValues:
// each costs far more in the tree than its text (an empty object is three
// bytes of text), and a message from another program must not be able to
// make the agent hold hundreds of megabytes. Real messages have dozens.
inline constexpr int kJsonMaxValues = 10000;
inline constexpr char16_t kJsonErrorTooManyValues[] = u"Invalid format, more than 10000 values.";

// Replaces |root| with the document in |text|. Returns false at the first
// error, leaving in |root| what was built so far and, when |error| is given,
// the error's message and position.
bool ReadJson(std::u16string_view text, uint32_t flags, CJsonValue& root, CJsonParseError* error);

}  // namespace wardex
