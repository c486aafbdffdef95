#include "osal/wide_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace KaOSAL {
namespace {
// Each row: what the formatter must produce, and what it produced.
TEST(WideFormatTest, ExactTexts) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const char16_t pair[] = {u'x', 0xD83D, 0xDE00, 0};  // x U+1F600
  // A precision may bound an array without a terminator: nothing beyond it
  // is read (the sanitizer builds catch a read past the array).
  const char narrow[] = {'a', 'b'};
  const char16_t wide[] = {u'c', u'd'};
  const char narrow_pair[] = {'x', '\xF0', '\x9F', '\x98', '\x80'};
  std::u16string appended = u"count=";
  AppendFormat(appended, u"%d, name=%s", 3, u"x");
  AppendFormat(appended, u";%I64u", uint64_t{1} << 40);
  const std::u16string long_text(5000, u'z');
  const std::pair<std::u16string, std::u16string> rows[] = {
      {u"000000AB", FormatWide(u"%08X", 0xABu)},
      {u"||  |", FormatWide(u"|%.0d|%2.0x|%.0o", 0, 0u, 0u)},  // 0 with precision 0 is empty
      {u"  42|42  |", FormatWide(u"%*d|%-*d|", 4, 42, 4, 42)},
      {u"42  |", FormatWide(u"%*d|", -4, 42)},  // negative "*" width: left-aligned
      {u"00042|42", FormatWide(u"%.*d|%.*d", 5, 42, -1, 42)},
      {u"-9223372036854775808", FormatWide(u"%I64d", INT64_MIN)},
      {u"18446744073709551615|FFFFFFFFFFFFFFFF|ffffffffffffffff",
       FormatWide(u"%I64u|%I64X|%I64x", UINT64_MAX, UINT64_MAX, UINT64_MAX)},
      {u"-9223372036854775807|18446744073709551615",
       FormatWide(u"%lld|%llu", INT64_MIN + 1, UINT64_MAX)},
      {u"-7|4000000000", FormatWide(u"%I32d|%I32u", -7, 4000000000u)},
      // "l" is 32 bits, as on Windows.
      {u"4000000000|-5|deadbeef",
       FormatWide(u"%lu|%ld|%lx", uint32_t{4000000000u}, -5, 0xDEADBEEFu)},
      {u"4464|4464|-1|65535", FormatWide(u"%hd|%hu|%hd|%hu", 70000, 70000, 0xFFFF, -1)},
      {u"-1|255", FormatWide(u"%hhd|%hhu", 0xFF, -1)},
      {u"18446744073709551615|-1",
       FormatWide(u"%zu|%Id", std::numeric_limits<size_t>::max(), ptrdiff_t{-1})},
      {u"00000000DEADBEEF|0000000000000000",
       FormatWide(u"%p|%p", reinterpret_cast<void*>(0xDEADBEEF), nullptr)},
      // Floats.
      {u"3.141593|3.14159265", FormatWide(u"%.*f|%.8f", 6, 3.14159265358979, 3.14159265358979)},
      {u"2|3.|4.e+00|0.12|0.38|0.499",
       FormatWide(u"%.0f|%#.0f|%#.0e|%.2f|%.2f|%.3f", 2.5, 3.0, 4.0, 0.125, 0.375, 0.4995)},
      {u"0.0001|1e-05|1.23457e+08|100000|1e+06",
       FormatWide(u"%g|%g|%g|%g|%g", 0.0001, 0.00001, 123456789.0, 100000.0, 1000000.0)},
      {u"0x1.0000000000000p+0|-0X1.8P+1|0x0.p+0", FormatWide(u"%a|%.1A|%#.0a", 1.0, -3.0, 0.0)},
      {u"0x001.0p+0", FormatWide(u"%010.1a", 1.0)},
      {u"inf|-INF|  inf|nan",
       FormatWide(u"%f|%E|%05g|%f", kInf, -kInf, kInf, std::numeric_limits<double>::quiet_NaN())},
      {u"12.50", FormatWide(u"%.2Lf", 12.5L)},
      {u"100000000000000000000.000000", FormatWide(u"%f", 1e20)},
      // Strings and characters.
      {u"ab   |   ab|a", FormatWide(u"%-5s|%5s|%.1s", u"ab", u"ab", u"ab")},
      {u"(null)|(null)|(nu",
       FormatWide(u"%s|%S|%.3s", static_cast<const char16_t*>(nullptr),
                  static_cast<const char*>(nullptr), static_cast<const char16_t*>(nullptr))},
      {u"Grüße|Grüße|Grüße", FormatWide(u"%S|%hs|%ls", "Grüße", "Grüße", u"Grüße")},
      {u"Grü|  Grü", FormatWide(u"%.3S|%5.3S", "Grüße", "Grüße")},
      {u"x|x\U0001F600", FormatWide(u"%.2S|%.3S", "x\xF0\x9F\x98\x80", "x\xF0\x9F\x98\x80")},
      {std::u16string(pair) + u"|", FormatWide(u"%s|", pair)},
      {u" x\U0001F600", FormatWide(u"%4s", pair)},  // width counts UTF-16 units
      {u"W|n|ü|x|\uFFFD", FormatWide(u"%c|%C|%lc|%hc|%C", u'W', 'n', u'ü', 'x', 0xC3)},
      {u"  a|b  |", FormatWide(u"%3c|%-3c|", u'a', u'b')},
      {std::u16string(u"a\0b", 3), FormatWide(u"a%cb", 0)},
      // Literals, and directives that are none.
      {u"100%", FormatWide(u"%d%%", 100)},
      {u"%q|%y 1", FormatWide(u"%q|%y %d", 1)},
      {u"%-5k", FormatWide(u"%-5k")},
      {u"abc%", FormatWide(u"abc%")},
      {u"abc%-08.3", FormatWide(u"abc%-08.3")},
      {u"plain text", FormatWide(u"plain text")},
      {u"", FormatWide(u"")},
      {u"ab|cd|x\U0001F600", FormatWide(u"%.2S|%.2s|%.3S", narrow, wide, narrow_pair)},
      {u"count=3, name=x;1099511627776", appended},
      {u"[" + long_text + u"]", FormatWide(u"[%s]", long_text.c_str())},
      {std::u16string(299, u' ') + u"1", FormatWide(u"%300d", 1)},
  };
  for (size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(ToUtf8(rows[i].second), ToUtf8(rows[i].first)) << "row " << i;
  const std::u16string max = FormatWide(u"%.300f", -1.7976931348623157e308);
  EXPECT_EQ(max.size(), 1u + 309u + 1u + 300u);
  EXPECT_EQ(max.substr(0, 6), u"-17976");
}

// For integer and decimal floating conversions without a length modifier the
// Windows rules are the C rules, so the C library's narrow snprintf is an
// oracle for every combination of flags, width and precision.
TEST(WideFormatTest, NumbersMatchTheCRulesInEveryCombination) {
#if defined(_WIN32)
  GTEST_SKIP() << "The oracle is glibc's: Windows' C libraries put a blank before an unsigned "
                  "number for the ' ' flag";
#endif
  const std::string flags = "-+ #0";
  const char* const widths[] = {"", "1", "12"};
  const char* const precisions[] = {"", ".0", ".3", ".17"};
  const int ints[] = {0, 1, -1, 255, INT32_MIN, INT32_MAX};
  const double doubles[] = {0.0, -0.0, 1.0, -2.5, 0.000123456, 123456789.125, 1e-300, 9.9999995};
  const auto compare = [](const std::string& format, auto value) {
    char expected[512];
    std::snprintf(expected, sizeof(expected), format.c_str(), value);
    ASSERT_EQ(ToUtf8(FormatWide(FromUtf8(format).c_str(), value)), expected)
        << format << " of " << value;
  };
  for (unsigned mask = 0; mask < 32; ++mask) {
    std::string flag_text;
    for (size_t i = 0; i < flags.size(); ++i)
      if (mask & (1u << i)) flag_text += flags[i];
    for (const char* width : widths) {
      for (const char* precision : precisions) {
        const std::string prefix = "%" + flag_text + width + precision;
        for (char conversion : std::string("dixXou")) {
          for (int value : ints) compare(prefix + conversion, value);
        }
        for (char conversion : std::string("eEfFgG")) {
          for (double value : doubles) compare(prefix + conversion, value);
        }
      }
    }
  }
}

TEST(Utf8Test, RoundTrips) {
  const std::vector<std::string> texts = {"",
                                          "plain ASCII",
                                          "Gr\u00fc\u00dfe",
                                          "\u4e2d\u6587",
                                          "\U0001F600 and \U0010FFFF",
                                          std::string("nul\0inside", 10),
                                          "\uFFFF\uE000"};
  for (const std::string& text : texts) EXPECT_EQ(ToUtf8(FromUtf8(text)), text);
  EXPECT_EQ(FromUtf8("\xF0\x9F\x98\x80"), std::u16string({0xD83D, 0xDE00}));
  EXPECT_EQ(FromUtf8(nullptr, 5), u"");
  EXPECT_EQ(ToUtf8(nullptr, 5), "");
}

TEST(Utf8Test, InvalidInputBecomesReplacementCharacters) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"a\xC3(", u"a\uFFFD("},                            // cut two-byte sequence
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong "/"
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong, three bytes
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xF5\x80", u"\uFFFD\uFFFD"},                      // no such lead byte
      {"\xE2\x82", u"\uFFFD"},                            // cut at the end
      {"\xF0\x9F\x98z", u"\uFFFDz"},                      // cut before ASCII
      {"\xBF\x80x", u"\uFFFD\uFFFDx"},                    // stray continuations
      {"\xFF\xFE", u"\uFFFD\uFFFD"},
  };
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(ToUtf8(FromUtf8(input)), ToUtf8(expected)) << "input of " << input.size();
  // A length cuts a sequence that goes on beyond it.
  EXPECT_EQ(FromUtf8("\xC3\xBC", 1), u"\uFFFD");
}

TEST(Utf8Test, LoneSurrogatesEncodeAsReplacementCharacter) {
  const std::pair<std::u16string, std::string> cases[] = {
      {{u'a', 0xD800, u'b'}, "a\uFFFDb"},
      {{0xDC00}, "\xEF\xBF\xBD"},
      {{u'a', 0xD83D}, "a\xEF\xBF\xBD"},                           // high surrogate at the end
      {{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},              // pair in the wrong order
      {{0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},  // high, then a real pair
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(ToUtf8(input), expected);
  // A length that splits a pair leaves the high half alone.
  const char16_t pair[] = {0xD83D, 0xDE00};
  EXPECT_EQ(ToUtf8(pair, 1), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace KaOSAL
