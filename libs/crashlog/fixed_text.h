// Text assembled in a fixed buffer without allocating, so that it can be used
// inside a signal handler. Text that does not fit is cut off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace wardex::crashlog {

template <size_t kCapacity>
class FixedText {
 public:
  FixedText() { data_[0] = '\0'; }

  FixedText& Append(std::string_view text) {
    for (char c : text) {
      if (length_ + 1 >= kCapacity) break;
      data_[length_++] = c;
    }
    data_[length_] = '\0';
    return *this;
  }

  FixedText& AppendDecimal(int64_t value) {
    char digits[24];
    size_t count = 0;
    // Negated as unsigned so that the smallest value does not overflow.
    uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) Append("-");
    return AppendReversed(digits, count);
  }

  // Upper-case hexadecimal with at least |min_digits| digits, no prefix.
  FixedText& AppendHex(uint64_t value, size_t min_digits) {
    char digits[16];
    size_t count = 0;
    do {
      digits[count++] = "0123456789ABCDEF"[value & 0xF];
      value >>= 4;
    } while (value != 0);
    while (count < min_digits && count < sizeof(digits)) digits[count++] = '0';
    return AppendReversed(digits, count);
  }

  // At least two digits, as in times and dates.
  FixedText& AppendTwoDigits(int value) {
    if (value < 10) Append("0");
    return AppendDecimal(value);
  }

  static constexpr size_t capacity() { return kCapacity; }
  const char* c_str() const { return data_; }
  size_t length() const { return length_; }
  std::string_view view() const { return {data_, length_}; }

 private:
  FixedText& AppendReversed(const char* digits, size_t count) {
    char ordered[24];
    for (size_t i = 0; i < count; ++i) ordered[i] = digits[count - 1 - i];
    return Append(std::string_view(ordered, count));
  }

  char data_[kCapacity];
  size_t length_ = 0;
};

}  // namespace wardex::crashlog
