// The wide JSON layer: values, reading with the agent's flags and every
// failure's text and place, writing with each flag.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <tuple>

#include "modules/json_parse_error.h"
#include "modules/json_reader.h"
#include "modules/json_value.h"
#include "modules/json_writer.h"
#include "osal/wide_format.h"
#include "support/test_env.h"

namespace wardex {
namespace {

constexpr uint32_t kAgentFlags = kJsonReadControlWhiteSpace | kJsonReadSingleQuotes;

std::string Utf8(const KaString& text) { return KaOSAL::ToUtf8(text.c_str(), text.GetLength()); }

std::string Written(const CJsonValue& value, uint32_t flags = 0) {
  KaString text;
  value.Write(text, flags);
  return Utf8(text);
}

// The texts that several cases below expect.
constexpr char kFirst[] = "Invalid first character, expected array, object or comment.";
constexpr char kEnd[] = "Invalid end of string.";
constexpr char kFormat[] = "Invalid string format.";
constexpr char kUnclosed[] = "Invalid format, matching closing character not found.";
constexpr char kAfterClose[] = "Invalid character after a matching close.";
constexpr char kComment[] = "Invalid comment block.";
constexpr char kWhiteSpace[] = "Invalid whitespace character.";
constexpr char kControl[] = "Invalid control character.";
constexpr uint32_t kA = kAgentFlags;

// Offsets are columns - 1 on the first line.
TEST(JsonReaderTest, FailsWithTextAndPosition) {
  const struct {
    const char16_t* text;
    uint32_t flags;
    const char* message;
    int line;
    int column;
  } kCases[] = {
      {u"", 0, "Empty string.", 1, 1},
      {u"x", kA, kFirst, 1, 1},
      {u"  \"a\"", kA, kFirst, 1, 3},
      {u"1", kA, kFirst, 1, 1},
      {u"{} x", kA, kAfterClose, 1, 4},
      {u"[]/**/", kA, kAfterClose, 1, 3},
      {u"/x", kA, kComment, 1, 2},
      {u"{\"a\":1,/-}", kA, kComment, 1, 9},
      {u"{\t}", 0, kWhiteSpace, 1, 2},
      {u"[\"a\tb\"]", 0, kWhiteSpace, 1, 4},
      {u"/* \n */{}", 0, kWhiteSpace, 1, 4},
      {u"[\"a\x01\"]", kA, kControl, 1, 4},
      {u"[1\x7f]", kA, kControl, 1, 3},
      {u"{'a':1}", kJsonReadControlWhiteSpace, "Invalid single quote.", 1, 2},
      {u"{a:1}", kA, "Invalid unquoted object name.", 1, 2},
      {u"{,}", kA, "Invalid separator at start of object.", 1, 2},
      {u"{\"a\":1,,}", kA, "Invalid extra separator, expected object name.", 1, 8},
      {u"{\"a\":1,}", kA, "Invalid end of object, expected another object name after separator.", 1,
       8},
      {u"{\"a\" 1}", kA, "Invalid end of object name, expected colon not found.", 1, 6},
      {u"[,1]", kA, "Invalid separator at start of array.", 1, 2},
      {u"[1,,2]", kA, "Invalid extra separator, expected value.", 1, 4},
      {u"[1,]", kA, "Invalid end of array, expected another value after separator.", 1, 4},
      {u"{\"a\":1e5}", kA, kEnd, 1, 9},
      {u"{\"a\":01}", kA, kFormat, 1, 8},
      {u"[0x1F]", kA, kFormat, 1, 6},
      {u"{\"a\":}", kA, kEnd, 1, 6},
      {u"[1 2]", kA, kEnd, 1, 5},
      {u"[tru]", kA, kEnd, 1, 5},
      {u"[1/*c*/]", kA, kEnd, 1, 8},
      {u"[9223372036854775808]", kA, kEnd, 1, 21},
      {u"[1.0e400]", kA, kEnd, 1, 9},
      {u"{\"a\":'x'}", kJsonReadControlWhiteSpace, kEnd, 1, 9},
      // In an array a single-quoted value is a plain token, ended by the comma.
      {u"['a,b']", kA, kEnd, 1, 4},
      {u"{\"a\":\"x\\q\"}", kA, kFormat, 1, 10},
      {u"{'a':'it\\'s'}", kA, kFormat, 1, 12},
      // The quote after \u12 is one of its four characters; the next quote
      // finds them not hexadecimal.
      {u"[\"\\u12\"3\"]", kA, kFormat, 1, 9},
      {u"[", kA, kUnclosed, 1, 2},
      {u"[\"abc", kA, kUnclosed, 1, 6},
      {u"/* open", kA, kUnclosed, 1, 8},
      {u"// line", kA, kUnclosed, 1, 8},
      // A name whose text cannot unescape never ends.
      {u"{\"a\\q\":1}", kA, kUnclosed, 1, 10},
      {u"{\n\"a\":1,\n}", kA,
       "Invalid end of object, expected another object name after separator.", 3, 1},
      {u"[1,\r\n  2\n , ,]", kA, "Invalid extra separator, expected value.", 3, 4},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(KaOSAL::ToUtf8(c.text));
    CJsonValue value;
    CJsonParseError error{.line = 99, .column = 99, .offset = 99, .message = u"stale"};
    EXPECT_FALSE(value.Parse(std::u16string_view(c.text), c.flags, &error));
    EXPECT_EQ(std::tuple(Utf8(error.message), error.line, error.column),
              std::tuple(std::string(c.message), c.line, c.column));
  }
}

TEST(JsonReaderTest, LimitsHoldUpToTheirBoundary) {
  std::u16string deep(kJsonMaxDepth, u'[');
  deep += std::u16string(kJsonMaxDepth, u']');
  CJsonValue value;
  CJsonParseError error;
  EXPECT_TRUE(value.Parse(deep, kAgentFlags));
  EXPECT_FALSE(value.Parse(u"[" + deep, kAgentFlags, &error));
  EXPECT_EQ(std::u16string_view(error.message.c_str()), kJsonErrorTooDeep);
  EXPECT_EQ(error.offset, static_cast<size_t>(kJsonMaxDepth));
  // Every kind of value counts: scalars, strings, objects and arrays.
  for (const std::u16string_view entry : {u"1", u"\"s\"", u"{}", u"[]"}) {
    std::u16string text = u"[";
    for (int i = 0; i < kJsonMaxValues; ++i) (text += entry) += u',';
    text.back() = u']';
    EXPECT_TRUE(value.Parse(text, kAgentFlags)) << KaOSAL::ToUtf8(entry.data(), entry.size());
    text.insert(1, std::u16string(entry) + u',');
    EXPECT_FALSE(value.Parse(text, kAgentFlags, &error));
    EXPECT_EQ(std::u16string_view(error.message.c_str()), kJsonErrorTooManyValues);
  }
}

TEST(JsonReaderTest, AFailureKeepsWhatWasBuiltAndASuccessResetsTheErrorRecord) {
  CJsonValue value;
  CJsonParseError error;
  EXPECT_FALSE(value.Parse(std::u16string_view(u"{\"a\":[1,\"x\"],\"b\":{\"c\":true,\n\n"),
                           kAgentFlags, &error));
  EXPECT_EQ(Written(value), R"({"a":[1,"x"],"b":{"c":true}})");
  ASSERT_EQ(error.line, 3);
  EXPECT_TRUE(value.Parse(std::u16string_view(u"[]"), kAgentFlags, &error));
  EXPECT_EQ(std::tie(error.line, error.offset, error.message),
            std::make_tuple(1, size_t{0}, KaString()));
}

TEST(JsonReaderTest, ReadsAndWritesBack) {
  const struct {
    const char16_t* text;
    uint32_t flags;
    const char* written;  // the document written back with flags 0
  } kCases[] = {
      {u"{\"a\":1,\"b\":[true,false,null],\"c\":{}}", 0, R"({"a":1,"b":[true,false,null],"c":{}})"},
      {u"{\"b\":1,\"a\":2,\"b\":3}", 0, R"({"b":3,"a":2})"},
      {u"{'a':'it\"s',\"b\":'x'}", kAgentFlags, R"({"a":"it\"s","b":"x"})"},
      {u"[ 'a' , \"b\" ]", kAgentFlags, R"(["a","b"])"},
      {u"{\n\t\"a\" :\r\n 1 ,\n \"b\":\t\"x\ty\"\n}", kAgentFlags, "{\"a\":1,\"b\":\"x\\ty\"}"},
      {u"/*x*/{/*a*/\"a\"/*b*/:/*c*/\"v\"//d\n,\"e\":[/*f*/2]} ", kAgentFlags,
       R"({"a":"v","e":[2]})"},
      {u"{/*/}*/}", kAgentFlags, "{}"},
      {u"{a:1,b:{c:2}}", kJsonReadUnquotedNames, R"({"a":1,"b":{"c":2}})"},
      {u"{a:1 , b :2}", kJsonReadUnquotedNames, R"({"a":1,"b":2})"},
      {u"[0x1F,0X10,-1]", kJsonReadHexIntegers, "[31,16,-1]"},
      {u"[007,0,-01]", kJsonReadLeadingZeros, "[7,0,-1]"},
      {u"[\"a\\/b\",\"\\u0041\",\"x\\\"y\",\"\\\\\",\"\\b\\f\\n\\r\\t\"]", 0,
       R"(["a/b","\\u0041","x\"y","\\","\b\f\n\r\t"])"},
      {u"{\"\\\"q\\\"\":1}", 0, R"({"\"q\"":1})"},
      {u"[\"\"]", 0, R"([""])"},
      {u"[\"\u00e9\u4e2d\"]", 0, "[\"\u00e9\u4e2d\"]"},
      // Entries that follow a string or a container need no separator.
      {u"[\"a\" \"b\" {} []]", 0, R"(["a","b",{},[]])"},
      {u"{\"a\":\"x\" \"b\":{} \"c\":1}", 0, R"({"a":"x","b":{},"c":1})"},
      {u"[1.5,-1.5,0.0,.25,2.]", 0, "[1.500000,-1.500000,0.000000,0.250000,2.000000]"},
      // White space or comments only: null, not the empty value.
      {u"  \t\r\n ", kAgentFlags, "null"},
      {u"/* x */ // y\n", kAgentFlags, "null"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(KaOSAL::ToUtf8(c.text));
    CJsonValue value;
    CJsonParseError error;
    ASSERT_TRUE(value.Parse(std::u16string_view(c.text), c.flags, &error))
        << Utf8(error.message) << " at " << error.line << ":" << error.column;
    EXPECT_EQ(Written(value), c.written);
  }
}

TEST(JsonReaderTest, NumbersTakeTheSmallestType) {
  const struct {
    const char16_t* token;
    JsonType type;
    double value;
  } kCases[] = {
      {u"1", kJsonTypeInt8, 1},
      {u"127", kJsonTypeInt8, 127},
      {u"-128", kJsonTypeInt8, -128},
      {u"128", kJsonTypeInt16, 128},
      {u"-129", kJsonTypeInt16, -129},
      {u"300", kJsonTypeInt16, 300},
      {u"32768", kJsonTypeInt32, 32768},
      {u"-2147483648", kJsonTypeInt32, -2147483648.0},
      {u"2147483648", kJsonTypeInt64, 2147483648.0},
      {u"-9223372036854775808", kJsonTypeInt64, -9223372036854775808.0},
      {u"+5", kJsonTypeInt8, 5},
      {u"0", kJsonTypeInt8, 0},
      {u"1.5", kJsonTypeFloat, 1.5},
      {u"0.1", kJsonTypeFloat, static_cast<float>(0.1)},
      {u"-1.5", kJsonTypeDouble, -1.5},
      {u"0.0", kJsonTypeDouble, 0.0},
      {u"1.5e3", kJsonTypeFloat, 1500},
      {u"3.4028234663852886e38", kJsonTypeFloat, 3.4028234663852886e38},
      {u"3.5e38", kJsonTypeDouble, 3.5e38},
      {u"1.1754943508222875e-38", kJsonTypeFloat, 1.1754943508222875e-38},
      {u"1.0e-38", kJsonTypeDouble, 1.0e-38},
      {u"1.0e-400", kJsonTypeDouble, 0.0},
      {u" 2.5 ", kJsonTypeFloat, 2.5},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(KaOSAL::ToUtf8(c.token));
    CJsonValue value;
    ASSERT_TRUE(value.Parse(u"{\"n\":" + std::u16string(c.token) + u"}", kAgentFlags));
    const CJsonValue& n = value.Members().at(u"n");
    EXPECT_EQ(std::tuple(n.GetKind(), n.GetType(), n.GetDouble()),
              std::tuple(JsonKind::kNumber, c.type, c.value));
  }
}

TEST(JsonReaderTest, LongStringsAndEscapesReadWhole) {
  std::u16string big(200000, u'x');
  big[1000] = u'"';
  std::u16string text = u"{\"s\":\"" + big.substr(0, 1000) + u"\\\"" + big.substr(1001) + u"\"}";
  CJsonValue value;
  ASSERT_TRUE(value.Parse(text, kAgentFlags));
  const auto s = value.Find(u"s")->GetString();
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(std::u16string_view(s->c_str(), static_cast<size_t>(s->GetLength())), big);
}

// The reader answers "does the quoted text so far unescape completely?"
// incrementally. This checks it against the plain way: unescape the whole
// text again at every quote, for many random texts full of escapes.
enum class Naive { kComplete, kIncomplete, kMalformed };

Naive NaiveUnescape(std::u16string_view inner, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < inner.size();) {
    if (inner[i] != u'\\') {
      out += inner[i++];
      continue;
    }
    if (i + 1 >= inner.size()) return Naive::kIncomplete;
    const char16_t d = inner[i + 1];
    const std::u16string_view simple = u"\"\\/bfnrt";
    const std::u16string_view mapped = u"\"\\/\b\f\n\r\t";
    if (const size_t k = simple.find(d); k != std::u16string_view::npos) {
      out += mapped[k];
      i += 2;
    } else if (d == u'u') {
      if (inner.size() - (i + 2) < 4) return Naive::kIncomplete;
      const auto hex = [](char16_t h) { return h < 128 && std::isxdigit(h); };
      if (!std::all_of(inner.begin() + i + 2, inner.begin() + i + 6, hex)) return Naive::kMalformed;
      out.append(inner.substr(i, 6));
      i += 6;
    } else {
      return Naive::kMalformed;
    }
  }
  return Naive::kComplete;
}

TEST(JsonReaderTest, QuotedValuesEndWhereWholeTextUnescapingSaysSo) {
  std::mt19937 random(20261205);
  const std::u16string alphabet = u"a\\\"u0Fq/n'";
  for (int round = 0; round < wardex::test::Scaled(20000, 4000); ++round) {
    std::u16string tail;
    const size_t length = random() % 14;
    for (size_t i = 0; i < length; ++i) tail += alphabet[random() % alphabet.size()];
    const std::u16string text = u"[\"" + tail;

    // The plain way: the first quote at which the text before it unescapes
    // completely ends the value; one at which it is malformed is an error.
    Naive verdict = Naive::kIncomplete;
    size_t at = 0;
    std::u16string expected;
    for (size_t k = 0; k < tail.size() && verdict == Naive::kIncomplete; ++k) {
      if (tail[k] != u'"') continue;
      const Naive v = NaiveUnescape(std::u16string_view(tail).substr(0, k), expected);
      if (v != Naive::kIncomplete) {
        verdict = v;
        at = k;
      }
    }

    SCOPED_TRACE(KaOSAL::ToUtf8(text));
    CJsonValue value;
    CJsonParseError error;
    ASSERT_FALSE(value.Parse(text, kAgentFlags, &error));  // the array never closes
    if (verdict == Naive::kComplete) {
      ASSERT_GE(value.Size(), 1u);
      const auto first = value.Elements()[0].GetString();
      ASSERT_TRUE(first.has_value());
      EXPECT_EQ(std::u16string_view(first->c_str(), first->GetLength()), expected);
      EXPECT_GT(error.offset, 2 + at);
    } else if (verdict == Naive::kMalformed) {
      EXPECT_EQ(std::tuple(Utf8(error.message), error.offset), std::tuple(kFormat, 2 + at));
    } else {
      EXPECT_EQ(std::tuple(Utf8(error.message), error.offset), std::tuple(kUnclosed, text.size()));
    }
  }
}

TEST(JsonWriterTest, ScalarsWithFlagsZero) {
  const struct {
    const char* name;
    CJsonValue value;
    const char* written;
  } kCases[] = {
      {"null", CJsonValue(nullptr), "null"},
      {"true", CJsonValue(true), "true"},
      {"false", CJsonValue(false), "false"},
      {"int32", CJsonValue(int32_t{-5}), "-5"},
      {"int64_min", CJsonValue(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {"uint64_max", CJsonValue(std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
      {"uint8", CJsonValue::Integer(200, kJsonTypeUInt8), "200"},
      {"int16", CJsonValue::Integer(-300, kJsonTypeInt16), "-300"},
      {"double_100", CJsonValue(100.0), "100.000000"},
      {"double_rounds", CJsonValue(2.0000005), "2.000001"},
      {"double_negative", CJsonValue(-0.25), "-0.250000"},
      {"double_large", CJsonValue(1e20), "100000000000000000000.000000"},
      {"float", CJsonValue::Real(static_cast<float>(0.1), kJsonTypeFloat), "0.100000"},
      {"decimal", CJsonValue::Real(12.5, kJsonTypeDecimal), "12.500000"},
      {"date_epoch", CJsonValue::Real(0.0, kJsonTypeDate), "\"1899-12-30 00:00:00\""},
      {"date_noon", CJsonValue::Real(45000.5, kJsonTypeDate), "\"2023-03-15 12:00:00\""},
      {"date_before_1899", CJsonValue::Real(-1.25, kJsonTypeDate), "\"1899-12-29 06:00:00\""},
      {"date_leap_day", CJsonValue::Real(36585.75, kJsonTypeDate), "\"2000-02-29 18:00:00\""},
      {"date_rounds_into_next_day", CJsonValue::Real(36585.999999, kJsonTypeDate),
       "\"2000-03-01 00:00:00\""},
      {"string_escapes", CJsonValue(u"q\"b\\s/\b\f\n\r\t"), R"("q\"b\\s/\b\f\n\r\t")"},
      {"string_unchanged", CJsonValue(u"\x01\x1f\u00e9\u4e2d\U0001F600"),
       "\"\x01\x1f\u00e9\u4e2d\U0001F600\""},
      {"string_empty", CJsonValue(u""), "\"\""},
      {"empty_object", CJsonValue::Object(), "{}"},
      {"empty_array", CJsonValue::Array(), "[]"},
      {"undefined", CJsonValue(), ""},
      {"undefined_elements_left_out",
       CJsonValue(CJsonElements{CJsonValue(), CJsonValue(int32_t{1}), CJsonValue()}), "[1]"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Written(c.value), c.written) << c.name;
}

TEST(JsonWriterTest, MembersInInsertionOrderUnlessMadeFromAMap) {
  CJsonValue inserted;
  inserted[u"b"] = CJsonValue(int32_t{1});
  inserted[u"a"] = CJsonValue(int32_t{2});
  inserted[u"b"] = CJsonValue(int32_t{3});  // keeps its place
  (void)inserted[u"unset"];                 // looked up, never assigned
  EXPECT_EQ(Written(inserted), R"({"b":3,"a":2})");
  EXPECT_EQ(Written(inserted, kJsonWriteSortedNames), R"({"a":2,"b":3})");

  const CJsonValue from_map(CJsonMembers{{u"b", CJsonValue(int32_t{1})},
                                         {u"a", CJsonValue(int32_t{2})},
                                         {u"B", CJsonValue(int32_t{3})},
                                         {u"\u00e9", CJsonValue(int32_t{4})},
                                         {u"ab", CJsonValue(int32_t{5})},
                                         {u"u", CJsonValue()}});
  const CJsonValue copy = from_map;  // a copy keeps the name order too
  EXPECT_EQ(Written(from_map), "{\"B\":3,\"a\":2,\"ab\":5,\"b\":1,\"\u00e9\":4}");
  EXPECT_EQ(Written(copy), Written(from_map));
}

TEST(JsonWriterTest, NumbersIgnoreTheProcessLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  // A decimal comma: glibc's name (scripts/setup generates it), then Windows'.
  std::string german;
  for (const char* name : {"de_DE.UTF-8", "German_Germany.1252"}) {
    if (const char* set = std::setlocale(LC_NUMERIC, name)) {
      german = set;
      break;
    }
  }
  if (german.empty()) GTEST_SKIP() << "no German locale";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  const std::string written = Written(CJsonValue(1.5));
  const std::string after = std::setlocale(LC_NUMERIC, nullptr);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_STREQ(probe, "1,5");  // the locale is really in force
  EXPECT_EQ(written, "1.500000");
  EXPECT_EQ(after, german);  // and the writer left it alone
}

// The unquoted-name, date, pretty-print and single-quote flags only change
// the layout, which is the writer's own; sorted names are the member order
// test's.
TEST(JsonWriterTest, MinimalEscapesLeaveAllButTheQuoteAndTheBackslash) {
  EXPECT_EQ(Written(CJsonValue(u"q\"b\\\n\t/"), kJsonWriteMinimalEscapes), "\"q\\\"b\\\\\n\t/\"");
}

TEST(JsonValueTest, CopiesAndAssignmentsAreDeep) {
  CJsonValue original;
  original[u"obj"][u"x"] = CJsonValue(u"a");
  CJsonValue copy = original;
  CJsonValue assigned;
  assigned = original;
  copy[u"obj"][u"x"] = CJsonValue(u"b");
  assigned[u"obj"][u"list"] = CJsonValue(CJsonElements{CJsonValue(true)});
  EXPECT_EQ(Written(original) + Written(copy) + Written(assigned),
            R"({"obj":{"x":"a"}}{"obj":{"x":"b"}}{"obj":{"x":"a","list":[true]}})");
}

}  // namespace
}  // namespace wardex
