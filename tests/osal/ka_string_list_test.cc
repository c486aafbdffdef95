// Included first on purpose: plug-ins include this header on its own.
#include "osal/ka_string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace KaOSAL {
namespace {

std::vector<std::u16string> Texts(const KaStringList& list) {
  std::vector<std::u16string> texts;
  for (const KaString& text : list) texts.emplace_back(text.c_str());
  return texts;
}

TEST(KaStringListTest, KeepsOrderThroughRemovalAndWritesDoNotReachTheSource) {
  KaStringList list;
  ASSERT_TRUE(KaString(u"a|b|c|d").Tokenize(u"|", list));
  list.RemoveAt(1);
  EXPECT_EQ(Texts(list), (std::vector<std::u16string>{u"a", u"c", u"d"}));
  const KaString source(u"shared");
  list.Add(source);
  list.GetAt(3).SetAt(0, u'S');
  EXPECT_EQ(std::u16string(source.c_str()), u"shared");
  EXPECT_EQ(std::u16string(list[3].c_str()), u"Shared");
  list.RemoveAll();
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.GetCount(), 0);
}

}  // namespace
}  // namespace KaOSAL
