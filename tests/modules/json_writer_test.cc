#include "modules/json_writer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "modules/json_value.h"
#include "osal/wide_format.h"

namespace wardex {
namespace {

std::string Written(const CJsonValue& value, uint32_t flags = 0) {
  KaString text;
  value.Write(text, flags);
  return KaOSAL::ToUtf8(text.c_str(), static_cast<size_t>(text.GetLength()));
}

// The kinds the agent writes: its replies hold integers, reals, flags and texts.
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
      {"double_100", CJsonValue(100.0), "100.000000"},
      {"double_rounds", CJsonValue(2.0000005), "2.000001"},
      {"double_negative", CJsonValue(-0.25), "-0.250000"},
      {"double_large", CJsonValue(1e20), "100000000000000000000.000000"},
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

  CJsonMembers map;
  map.emplace(u"b", CJsonValue(int32_t{1}));
  map.emplace(u"a", CJsonValue(int32_t{2}));
  map.emplace(u"B", CJsonValue(int32_t{3}));
  map.emplace(u"\u00e9", CJsonValue(int32_t{4}));
  map.emplace(u"ab", CJsonValue(int32_t{5}));
  map.emplace(u"u", CJsonValue());
  const CJsonValue from_map(map);
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

}  // namespace
}  // namespace wardex
