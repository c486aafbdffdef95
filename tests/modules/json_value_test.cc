#include "modules/json_value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace wardex {
namespace {

TEST(JsonValueTest, CopiesAreDeep) {
  CJsonValue original;
  original[u"list"].Append(CJsonValue(int32_t{1}));
  original[u"obj"][u"x"] = CJsonValue(u"a");

  CJsonValue copy = original;
  copy[u"list"].Append(CJsonValue(int32_t{2}));
  copy[u"obj"][u"x"] = CJsonValue(u"b");
  copy[u"new"] = CJsonValue(true);

  EXPECT_EQ(original.Size(), 2u);
  EXPECT_EQ(original.Find(u"list")->Size(), 1u);
  EXPECT_EQ(*original.Find(u"obj")->Find(u"x")->GetString(), KaString(u"a"));
  EXPECT_EQ(copy.MemberOrder().size(), 3u);

  CJsonValue assigned;
  assigned = copy;
  copy[u"obj"][u"x"] = CJsonValue(u"c");
  EXPECT_EQ(*assigned.Find(u"obj")->Find(u"x")->GetString(), KaString(u"b"));
  EXPECT_TRUE(assigned.HasInsertionOrder());
}

TEST(JsonValueTest, WritingAccessReshapesOtherKinds) {
  CJsonValue value(int32_t{5});
  value[u"a"] = CJsonValue(true);
  EXPECT_TRUE(value.IsObject());
  EXPECT_EQ(value.Size(), 1u);
  value.Append(CJsonValue(nullptr));
  EXPECT_TRUE(value.IsArray());
  EXPECT_EQ(value.Size(), 1u);
  EXPECT_EQ(value.Find(u"a"), nullptr);
  EXPECT_TRUE(CJsonValue(u"x").Members().empty());
  EXPECT_TRUE(CJsonValue(u"x").Elements().empty());
}

TEST(JsonValueTest, TypedReadsRefuseOtherKindsAndRanges) {
  const CJsonValue big_unsigned(std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(big_unsigned.GetInt64(), std::nullopt);
  EXPECT_EQ(big_unsigned.GetUInt64(), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(big_unsigned.GetDouble(), 18446744073709551615.0);

  const CJsonValue negative(int32_t{-1});
  EXPECT_EQ(negative.GetUInt64(), std::nullopt);
  EXPECT_EQ(negative.GetInt64(), -1);

  const CJsonValue real(1.5);
  EXPECT_EQ(real.GetInt64(), std::nullopt);
  EXPECT_EQ(real.GetDouble(), 1.5);

  const CJsonValue text(u"1");
  EXPECT_EQ(text.GetInt64(), std::nullopt);
  EXPECT_EQ(text.GetDouble(), std::nullopt);
  EXPECT_EQ(text.GetBool(), std::nullopt);
  EXPECT_EQ(CJsonValue(true).GetString(), std::nullopt);
  EXPECT_EQ(CJsonValue(true).GetInt64(), std::nullopt);
}

}  // namespace
}  // namespace wardex
