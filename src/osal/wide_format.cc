#include "osal/wide_format.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace KaOSAL {
namespace {

constexpr char16_t kReplacementChar = 0xFFFD;
// Widths and precisions beyond this are clamped: they only guard the int
// arithmetic, no real format comes near them.
constexpr int kMaxWidth = 1 << 20;
// Windows prints %a with 13 hexadecimal digits (all of a double's fraction)
// when no precision is given.
constexpr int kDefaultHexPrecision = 13;
constexpr int kDefaultPrecision = 6;

// A va_list that can be handed to helpers by reference on every ABI.
struct Args {
  va_list list;
};

// The size given by a length modifier. Windows rules: "l" is 32 bits for
// integers and means "wide" for %s and %c; "h" means "narrow" for them.
enum class Length { kNone, kChar, kShort, kLong, kLongLong, kInt32, kInt64, kSize, kLongDouble };

struct Conversion {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alt = false;
  bool zero = false;
  int width = 0;
  int precision = -1;  // -1: none given
  Length length = Length::kNone;
  char16_t conversion = 0;
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Reads a decimal number at |p| (clamped to kMaxWidth) and advances past it.
int ParseNumber(const char16_t*& p) {
  int value = 0;
  for (; IsDigit(*p); ++p) {
    value = value * 10 + (*p - u'0');
    if (value > kMaxWidth) value = kMaxWidth;
  }
  return value;
}

void ParseFlags(const char16_t*& p, Conversion& conv) {
  for (;; ++p) {
    switch (*p) {
      case u'-':
        conv.left = true;
        break;
      case u'+':
        conv.plus = true;
        break;
      case u' ':
        conv.space = true;
        break;
      case u'#':
        conv.alt = true;
        break;
      case u'0':
        conv.zero = true;
        break;
      default:
        return;
    }
  }
}

// Width: digits or "*" (a negative "*" width means left-aligned).
void ParseWidth(const char16_t*& p, Args& args, Conversion& conv) {
  if (*p == u'*') {
    ++p;
    int width = va_arg(args.list, int);
    if (width < 0) {
      conv.left = true;
      width = width == std::numeric_limits<int>::min() ? kMaxWidth : -width;
    }
    conv.width = width > kMaxWidth ? kMaxWidth : width;
    return;
  }
  conv.width = ParseNumber(p);
}

// Precision: "." then digits or "*" (a negative "*" precision counts as none).
void ParsePrecision(const char16_t*& p, Args& args, Conversion& conv) {
  if (*p != u'.') return;
  ++p;
  if (*p == u'*') {
    ++p;
    const int precision = va_arg(args.list, int);
    conv.precision = precision < 0 ? -1 : (precision > kMaxWidth ? kMaxWidth : precision);
    return;
  }
  conv.precision = ParseNumber(p);
}

bool StartsWith(const char16_t* p, std::u16string_view prefix) {
  for (char16_t c : prefix) {
    if (*p++ != c) return false;
  }
  return true;
}

void ParseLength(const char16_t*& p, Conversion& conv) {
  switch (*p) {
    case u'h':
      ++p;
      conv.length = Length::kShort;
      if (*p == u'h') {
        ++p;
        conv.length = Length::kChar;
      }
      return;
    case u'l':
      ++p;
      conv.length = Length::kLong;
      if (*p == u'l') {
        ++p;
        conv.length = Length::kLongLong;
      }
      return;
    case u'w':
      ++p;
      conv.length = Length::kLong;
      return;
    case u'L':
      ++p;
      conv.length = Length::kLongDouble;
      return;
    case u'z':
    case u'j':
    case u't':
      ++p;
      conv.length = Length::kSize;
      return;
    case u'I':
      ++p;
      if (StartsWith(p, u"64")) {
        p += 2;
        conv.length = Length::kInt64;
      } else if (StartsWith(p, u"32")) {
        p += 2;
        conv.length = Length::kInt32;
      } else {
        conv.length = Length::kSize;  // %Id, %Iu: pointer-sized
      }
      return;
    default:
      return;
  }
}

// Parses the directive after '%' up to and including the conversion
// character. Returns false when the format ends inside the directive.
bool ParseSpec(const char16_t*& p, Args& args, Conversion& conv) {
  ParseFlags(p, conv);
  ParseWidth(p, args, conv);
  ParsePrecision(p, args, conv);
  ParseLength(p, conv);
  if (*p == 0) return false;
  conv.conversion = *p++;
  return true;
}

void AppendAscii(std::u16string& out, std::string_view text) {
  for (char c : text) out.push_back(static_cast<unsigned char>(c));
}

// Appends |prefix| (sign, "0x") and |body| padded to the width. Zeros go
// between prefix and body when |zero_pad| allows them.
void AppendPadded(std::u16string& out, std::string_view prefix, std::string_view body,
                  const Conversion& conv, bool zero_pad) {
  const size_t length = prefix.size() + body.size();
  const size_t fill = static_cast<size_t>(conv.width) > length ? conv.width - length : 0;
  if (conv.left) {
    AppendAscii(out, prefix);
    AppendAscii(out, body);
    out.append(fill, u' ');
  } else if (zero_pad) {
    AppendAscii(out, prefix);
    out.append(fill, u'0');
    AppendAscii(out, body);
  } else {
    out.append(fill, u' ');
    AppendAscii(out, prefix);
    AppendAscii(out, body);
  }
}

// Appends wide |text| padded with spaces to the width.
void AppendPaddedText(std::u16string& out, std::u16string_view text, const Conversion& conv) {
  const size_t fill = static_cast<size_t>(conv.width) > text.size() ? conv.width - text.size() : 0;
  if (!conv.left) out.append(fill, u' ');
  out.append(text);
  if (conv.left) out.append(fill, u' ');
}

void MakeUpper(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

// ---- integers ----

int64_t ReadSigned(Args& args, Length length) {
  switch (length) {
    case Length::kChar:
      return static_cast<signed char>(va_arg(args.list, int));
    case Length::kShort:
      return static_cast<short>(va_arg(args.list, int));
    case Length::kLongLong:
    case Length::kInt64:
      return va_arg(args.list, long long);
    case Length::kSize:
      return va_arg(args.list, std::ptrdiff_t);
    default:
      return va_arg(args.list, int);  // also %ld: long is 32 bits on Windows
  }
}

uint64_t ReadUnsigned(Args& args, Length length) {
  switch (length) {
    case Length::kChar:
      return static_cast<unsigned char>(va_arg(args.list, unsigned));
    case Length::kShort:
      return static_cast<unsigned short>(va_arg(args.list, unsigned));
    case Length::kLongLong:
    case Length::kInt64:
      return va_arg(args.list, unsigned long long);
    case Length::kSize:
      return va_arg(args.list, std::size_t);
    default:
      return va_arg(args.list, unsigned);  // also %lu, %lx: 32 bits
  }
}

// Digits of |value| in |base|, at least |precision| of them ("" for a zero
// with precision 0, as printf does).
std::string IntegerDigits(uint64_t value, int base, bool upper, int precision) {
  if (precision == 0 && value == 0) return {};
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, base);
  std::string digits(buffer, result.ptr);
  if (upper) MakeUpper(digits);
  if (precision > 0 && digits.size() < static_cast<size_t>(precision)) {
    digits.insert(0, precision - digits.size(), '0');
  }
  return digits;
}

std::string_view SignPrefix(bool negative, const Conversion& conv) {
  if (negative) return "-";
  if (conv.plus) return "+";
  if (conv.space) return " ";
  return {};
}

void FormatSigned(std::u16string& out, Args& args, const Conversion& conv) {
  const int64_t value = ReadSigned(args, conv.length);
  const uint64_t magnitude =
      value < 0 ? ~static_cast<uint64_t>(value) + 1 : static_cast<uint64_t>(value);
  const std::string digits = IntegerDigits(magnitude, 10, false, conv.precision);
  AppendPadded(out, SignPrefix(value < 0, conv), digits, conv,
               conv.zero && !conv.left && conv.precision < 0);
}

void FormatUnsigned(std::u16string& out, Args& args, const Conversion& conv) {
  const uint64_t value = ReadUnsigned(args, conv.length);
  const char16_t conversion = conv.conversion;
  const int base = conversion == u'o' ? 8 : (conversion == u'u' ? 10 : 16);
  std::string digits = IntegerDigits(value, base, conversion == u'X', conv.precision);
  std::string_view prefix;
  if (conv.alt && base == 8 && (digits.empty() || digits[0] != '0')) digits.insert(0, 1, '0');
  if (conv.alt && base == 16 && value != 0) prefix = conversion == u'X' ? "0X" : "0x";
  AppendPadded(out, prefix, digits, conv, conv.zero && !conv.left && conv.precision < 0);
}

// %p: all hexadecimal digits of the address, upper case, no prefix.
void FormatPointer(std::u16string& out, Args& args, const Conversion& conv) {
  const auto value = reinterpret_cast<uintptr_t>(va_arg(args.list, void*));
  const std::string digits =
      IntegerDigits(value, 16, true, static_cast<int>(sizeof(uintptr_t) * 2));
  AppendPadded(out, {}, digits, conv, false);
}

// ---- floating point ----

// Formats |value| (finite, not negative) with std::to_chars, which is exact
// and does not depend on the process locale.
std::string ToChars(double value, std::chars_format format, int precision) {
  std::string buffer(static_cast<size_t>(precision) + 400, '\0');
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format, precision);
  buffer.resize(result.ptr - buffer.data());
  return buffer;
}

// The decimal exponent of a "d.ddde±xx" text.
int ExponentOf(const std::string& scientific) {
  const size_t e = scientific.find('e');
  int exponent = 0;
  std::from_chars(scientific.data() + e + (scientific[e + 1] == '+' ? 2 : 1),
                  scientific.data() + scientific.size(), exponent);
  return exponent;
}

// Removes trailing zeros of the fraction, and the point if nothing is left.
void StripTrailingZeros(std::string& text) {
  const size_t point = text.find('.');
  if (point == std::string::npos) return;
  const size_t exponent = text.find('e');
  const size_t end = exponent == std::string::npos ? text.size() : exponent;
  size_t last = end;
  while (last > point + 1 && text[last - 1] == '0') --last;
  if (last == point + 1) last = point;
  text.erase(last, end - last);
}

// Puts a decimal point before the exponent mark |exponent_mark| (or at the
// end) if there is none: the "#" flag keeps the point even without fraction
// digits.
void EnsurePoint(std::string& text, char exponent_mark) {
  if (text.find('.') != std::string::npos) return;
  const size_t exponent = text.find(exponent_mark);
  text.insert(exponent == std::string::npos ? text.size() : exponent, 1, '.');
}

// %g: scientific if the exponent is below -4 or not below the precision,
// else fixed; trailing zeros go unless "#" is given.
std::string GeneralDigits(double value, int precision, bool alt) {
  const int significant = precision == 0 ? 1 : precision;
  const std::string scientific = ToChars(value, std::chars_format::scientific, significant - 1);
  const int exponent = ExponentOf(scientific);
  std::string text = exponent < -4 || exponent >= significant
                         ? scientific
                         : ToChars(value, std::chars_format::fixed, significant - 1 - exponent);
  if (!alt) StripTrailingZeros(text);
  return text;
}

std::string FloatDigits(double value, const Conversion& conv) {
  const char16_t conversion = conv.conversion;
  const bool hex = conversion == u'a' || conversion == u'A';
  const int precision =
      conv.precision >= 0 ? conv.precision : (hex ? kDefaultHexPrecision : kDefaultPrecision);
  std::string text;
  switch (conversion) {
    case u'f':
    case u'F':
      text = ToChars(value, std::chars_format::fixed, precision);
      break;
    case u'e':
    case u'E':
      text = ToChars(value, std::chars_format::scientific, precision);
      break;
    case u'g':
    case u'G':
      text = GeneralDigits(value, precision, conv.alt);
      break;
    default:
      text = ToChars(value, std::chars_format::hex, precision);
      break;
  }
  if (conv.alt) EnsurePoint(text, hex ? 'p' : 'e');
  return text;
}

void FormatFloat(std::u16string& out, Args& args, const Conversion& conv) {
  const double value = conv.length == Length::kLongDouble
                           ? static_cast<double>(va_arg(args.list, long double))
                           : va_arg(args.list, double);
  const char16_t conversion = conv.conversion;
  const bool upper =
      conversion == u'E' || conversion == u'F' || conversion == u'G' || conversion == u'A';
  const bool hex = conversion == u'a' || conversion == u'A';
  const std::string_view sign = SignPrefix(std::signbit(value), conv);
  std::string prefix(sign);
  std::string body;
  const bool finite = std::isfinite(value);
  if (!finite) {
    body = std::isnan(value) ? "nan" : "inf";
  } else {
    body = FloatDigits(std::fabs(value), conv);
    if (hex) prefix += "0x";
  }
  if (upper) {
    MakeUpper(prefix);
    MakeUpper(body);
  }
  AppendPadded(out, prefix, body, conv, finite && conv.zero && !conv.left);
}

// ---- UTF-8 ----

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Appends |c| (not a surrogate) as one to four UTF-8 bytes.
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return;
  }
  int continuation_bytes = c < 0x800 ? 1 : (c < 0x10000 ? 2 : 3);
  constexpr unsigned char kLeadMarks[] = {0, 0xC0, 0xE0, 0xF0};
  out.push_back(
      static_cast<char>(kLeadMarks[continuation_bytes] | (c >> (6 * continuation_bytes))));
  while (continuation_bytes-- > 0) {
    out.push_back(static_cast<char>(0x80 | ((c >> (6 * continuation_bytes)) & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at |p| (at most |available| bytes; a zero byte
// always ends a sequence). Returns the bytes consumed, at least 1; an invalid
// or cut sequence gives U+FFFD for its longest valid beginning.
size_t DecodeUtf8(const unsigned char* p, size_t available, char32_t& code_point) {
  const unsigned char lead = p[0];
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  size_t count = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    count = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    count = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    count = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    code_point = kReplacementChar;
    return 1;
  }
  char32_t value = lead & (0xFF >> (count + 1));
  for (size_t i = 1; i < count; ++i) {
    const unsigned char min = i == 1 ? low : 0x80;
    const unsigned char max = i == 1 ? high : 0xBF;
    if (i >= available || p[i] < min || p[i] > max) {
      code_point = kReplacementChar;
      return i;
    }
    value = (value << 6) | (p[i] & 0x3F);
  }
  code_point = value;
  return count;
}

// Appends |code_point| as one or two UTF-16 units.
void AppendCodePoint(std::u16string& out, char32_t code_point) {
  if (code_point < 0x10000) {
    out.push_back(static_cast<char16_t>(code_point));
    return;
  }
  code_point -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
}

// ---- characters and strings ----

// A narrow character: ASCII as is; a byte from 128 up is not a character of
// its own in UTF-8.
char16_t WidenByte(unsigned char byte) { return byte < 0x80 ? byte : kReplacementChar; }

bool IsNarrow(const Conversion& conv) {
  if (conv.length == Length::kShort) return true;
  if (conv.length == Length::kLong) return false;
  return conv.conversion == u'S' || conv.conversion == u'C';
}

void FormatChar(std::u16string& out, Args& args, const Conversion& conv) {
  const int value = va_arg(args.list, int);
  const char16_t c =
      IsNarrow(conv) ? WidenByte(static_cast<unsigned char>(value)) : static_cast<char16_t>(value);
  AppendPaddedText(out, std::u16string_view(&c, 1), conv);
}

// Widens a zero-terminated UTF-8 string, at most |max_units| UTF-16 units;
// reads no byte beyond what it needs, so a precision may bound an array
// without a terminator.
std::u16string WidenNarrow(const char* text, size_t max_units) {
  std::u16string result;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (result.size() < max_units && *p != 0) {
    char32_t code_point = 0;
    const size_t consumed = DecodeUtf8(p, std::numeric_limits<size_t>::max(), code_point);
    if (result.size() + (code_point >= 0x10000 ? 2 : 1) > max_units) break;
    AppendCodePoint(result, code_point);
    p += consumed;
  }
  return result;
}

void FormatString(std::u16string& out, Args& args, const Conversion& conv) {
  const void* pointer = va_arg(args.list, const void*);
  const size_t max_units =
      conv.precision < 0 ? std::numeric_limits<size_t>::max() : static_cast<size_t>(conv.precision);
  if (pointer == nullptr) {
    AppendPaddedText(out, std::u16string_view(u"(null)").substr(0, max_units), conv);
  } else if (IsNarrow(conv)) {
    AppendPaddedText(out, WidenNarrow(static_cast<const char*>(pointer), max_units), conv);
  } else {
    const auto* text = static_cast<const char16_t*>(pointer);
    size_t length = 0;
    while (length < max_units && text[length] != 0) ++length;
    AppendPaddedText(out, std::u16string_view(text, length), conv);
  }
}

// Formats one directive; returns false for a conversion it does not know.
bool FormatOne(std::u16string& out, Args& args, const Conversion& conv) {
  switch (conv.conversion) {
    case u'd':
    case u'i':
      FormatSigned(out, args, conv);
      return true;
    case u'u':
    case u'o':
    case u'x':
    case u'X':
      FormatUnsigned(out, args, conv);
      return true;
    case u'e':
    case u'E':
    case u'f':
    case u'F':
    case u'g':
    case u'G':
    case u'a':
    case u'A':
      FormatFloat(out, args, conv);
      return true;
    case u'c':
    case u'C':
      FormatChar(out, args, conv);
      return true;
    case u's':
    case u'S':
      FormatString(out, args, conv);
      return true;
    case u'p':
      FormatPointer(out, args, conv);
      return true;
    case u'%':
      out.push_back(u'%');
      return true;
    default:
      return false;
  }
}

}  // namespace

void AppendFormatV(std::u16string& out, const char16_t* format, va_list list) {
  if (format == nullptr) return;
  Args args;
  va_copy(args.list, list);
  const char16_t* p = format;
  while (*p != 0) {
    if (*p != u'%') {
      const char16_t* run = p;
      while (*p != 0 && *p != u'%') ++p;
      out.append(run, p - run);
      continue;
    }
    const char16_t* directive = p++;
    Conversion conv;
    const bool complete = ParseSpec(p, args, conv);
    // A directive cut short or unknown is printed as it stands.
    if (!complete || !FormatOne(out, args, conv)) out.append(directive, p - directive);
  }
  va_end(args.list);
}

void AppendFormat(std::u16string& out, const char16_t* format, ...) {
  va_list list;
  va_start(list, format);
  AppendFormatV(out, format, list);
  va_end(list);
}

std::u16string FormatWide(const char16_t* format, ...) {
  std::u16string out;
  va_list list;
  va_start(list, format);
  AppendFormatV(out, format, list);
  va_end(list);
  return out;
}

std::string ToUtf8(const char16_t* text, size_t length) {
  std::string result;
  if (text == nullptr) return result;
  result.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = kReplacementChar;  // a lone surrogate has no UTF-8 form
    }
    AppendUtf8(result, c);
  }
  return result;
}

std::string ToUtf8(const std::u16string& text) { return ToUtf8(text.data(), text.size()); }

std::u16string FromUtf8(const char* text, size_t length) {
  std::u16string result;
  if (text == nullptr) return result;
  result.reserve(length);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < length) {
    char32_t code_point = 0;
    i += DecodeUtf8(p + i, length - i, code_point);
    AppendCodePoint(result, code_point);
  }
  return result;
}

std::u16string FromUtf8(const std::string& text) { return FromUtf8(text.data(), text.size()); }

}  // namespace KaOSAL
