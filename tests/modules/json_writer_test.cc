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

TEST(JsonWriterTest, EachFlagOnTheSampleDocument) {
  CJsonValue doc;
  doc[u"name"] = CJsonValue(u"it's \"x\"\n");
  doc[u"true"] = CJsonValue(u"plain");
  doc[u"a b"] = CJsonValue(int32_t{1});
  doc[u"list"] = CJsonValue(CJsonElements{CJsonValue(int32_t{1}), CJsonValue(int32_t{2})});
  doc[u"one"] = CJsonValue(CJsonElements{CJsonValue(true)});
  doc[u"when"] = CJsonValue::Real(45000.5, kJsonTypeDate);
  const struct {
    const char* name;
    uint32_t flags;
    const char* written;
  } kCases[] = {
      {"compact", 0,
       R"({"name":"it's \"x\"\n","true":"plain","a b":1,"list":[1,2],"one":[true],)"
       R"("when":"2023-03-15 12:00:00"})"},
      {"unquoted_names", kJsonWriteUnquotedNames,
       R"({name:"it's \"x\"\n","true":"plain","a b":1,list:[1,2],one:[true],)"
       R"(when:"2023-03-15 12:00:00"})"},
      {"locale_dates", kJsonWriteLocaleDates,
       R"({"name":"it's \"x\"\n","true":"plain","a b":1,"list":[1,2],"one":[true],)"
       R"("when":"3/15/2023 12:00:00"})"},
      {"minimal_escapes", kJsonWriteMinimalEscapes,
       "{\"name\":\"it's \\\"x\\\"\n\",\"true\":\"plain\",\"a b\":1,\"list\":[1,2],"
       "\"one\":[true],\"when\":\"2023-03-15 12:00:00\"}"},
      {"single_quotes", kJsonWriteSingleQuotes,
       R"({'name':"it's \"x\"\n",'true':'plain','a b':1,'list':[1,2],'one':[true],)"
       R"('when':'2023-03-15 12:00:00'})"},
      {"sorted", kJsonWriteSortedNames,
       R"({"a b":1,"list":[1,2],"name":"it's \"x\"\n","one":[true],"true":"plain",)"
       R"("when":"2023-03-15 12:00:00"})"},
      {"pretty_tabs", kJsonWritePrettyTabs,
       "{\n\t\"name\": \"it's \\\"x\\\"\\n\",\n\t\"true\": \"plain\",\n\t\"a b\": 1,\n"
       "\t\"list\": [\n\t\t1,\n\t\t2\n\t],\n\t\"one\": [true],\n"
       "\t\"when\": \"2023-03-15 12:00:00\"\n}"},
      {"pretty_spaces", kJsonWritePrettySpaces,
       "{\n  \"name\": \"it's \\\"x\\\"\\n\",\n  \"true\": \"plain\",\n  \"a b\": 1,\n"
       "  \"list\": [\n    1,\n    2\n  ],\n  \"one\": [true],\n"
       "  \"when\": \"2023-03-15 12:00:00\"\n}"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Written(doc, c.flags), c.written) << c.name;
}

TEST(JsonWriterTest, NumberOptions) {
  CJsonWriteOptions options;
  options.precision = 2;
  std::u16string text;
  CJsonValue(3.14159).Write(text, 0, &options);
  EXPECT_EQ(text, u"3.14");
  options.number_format = std::chars_format::general;
  options.precision = 3;
  CJsonValue(1234567.0).Write(text, 0, &options);
  EXPECT_EQ(text, u"1.23e+06");
  options.indent_width = 1;
  CJsonValue(CJsonElements{CJsonValue(int32_t{1}), CJsonValue(int32_t{2})})
      .Write(text, kJsonWritePrettySpaces, &options);
  EXPECT_EQ(text, u"[\n 1,\n 2\n]");
}

}  // namespace
}  // namespace wardex
