#include "osal/ka_base_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace KaOSAL {
namespace {

const char16_t kGruesse[] = u"Gr\u00fc\u00dfe";
const char kGruesseUtf8[] = "Gr\u00fc\u00dfe";  // UTF-8 bytes

std::u16string Wide(const KaWString& s) { return std::u16string(s.c_str(), s.GetLength()); }

// Narrowing from wide text, and re-encoding: different pages go through wide
// text, equal pages copy the bytes as they are.
TEST(KaBaseStringTest, NarrowingByCodePage) {
  const KaWString wide(KaAString(kGruesse, KA_CP_UTF8));
  const std::vector<std::tuple<KaAString, unsigned, std::string>> cases = {
      {KaAString(kGruesse, KA_CP_7BIT), KA_CP_7BIT, "Gr??e"},
      {KaAString(kGruesse, KA_CP_UTF8), KA_CP_UTF8, kGruesseUtf8},
      {KaAString(kGruesse, KA_CP_ACP), KA_CP_ACP, kGruesseUtf8},
      {KaAString(u"\u20ac 5", KA_CP_7BIT), KA_CP_7BIT, "? 5"},
      {KaAString(u"Gr\u00fc\u00dfe \u20ac", 1252), 1252, "Gr\374\337e \200"},
      {KaAString(u"\u20ac", 28605), 28605, "\xa4"},
      // Not in the page: one "?" per character.
      {KaAString(u"\u65e5 \U0001F600!", 1252), 1252, "? ?!"},
      {KaAString(kGruesse, 12345), 12345, ""},  // a page the system cannot convert gives no text
      {KaAString(u"", KA_CP_UTF8), KA_CP_UTF8, ""},
      {KaAString(nullptr, KA_CP_UTF8), KA_CP_UTF8, ""},
      {KaAString(kGruesseUtf8, KA_CP_UTF8, KA_CP_7BIT), KA_CP_7BIT, "Gr??e"},
      {KaAString("a\xff", KA_CP_UTF8, KA_CP_UTF8), KA_CP_UTF8, "a\xff"},
      {KaAString("Gr\374e", KA_CP_7BIT, KA_CP_UTF8), KA_CP_UTF8, "Gr?e"},
      {KaAString(wide, KA_CP_7BIT), KA_CP_7BIT, "Gr??e"},
  };
  for (const auto& [narrow, codepage, expected] : cases) {
    SCOPED_TRACE(expected);
    EXPECT_EQ(std::tuple(std::string(narrow.c_str(), narrow.GetLength()),
                         std::strlen(narrow.c_str()), narrow.IsEmpty(), narrow.GetCodepage()),
              std::tuple(expected, expected.size(), expected.empty(), codepage));
  }
  EXPECT_EQ(Wide(wide), kGruesse);
}

TEST(KaBaseStringTest, WideningByCodePage) {
  const std::vector<std::pair<KaWString, std::u16string>> cases = {
    {KaWString(kGruesseUtf8, KA_CP_UTF8), kGruesse},
    {KaWString(kGruesseUtf8, KA_CP_ACP), kGruesse},
    {KaWString(kGruesseUtf8, KA_CP_7BIT), u"Gr????e"},  // every byte from 128 up
    {KaWString("a\377b", KA_CP_UTF8), u"a\ufffdb"},     // invalid UTF-8 is replaced, not dropped
    {KaWString("Gr\374\337e \200", 1252), u"Gr\u00fc\u00dfe \u20ac"},
    {KaWString("\xa4", 28605), u"\u20ac"},
#if defined(_WIN32)
    // Windows' own table gives the bytes that 1252 leaves undefined the C1 controls.
    {KaWString("a\201b", 1252), u"a\u0081b"},
#else
    {KaWString("a\201b", 1252), u"a\ufffdb"},  // a byte the page does not define
#endif
    {KaWString("\xfc", 12345), u""},
    {KaWString("", KA_CP_7BIT), u""},
    {KaWString(nullptr, KA_CP_UTF8), u""},
    {KaWString(KaAString(kGruesse, KA_CP_7BIT)), u"Gr??e"},
  };
  for (const auto& [wide, expected] : cases) {
    SCOPED_TRACE(testing::PrintToString(expected));
    EXPECT_EQ(std::tuple(Wide(wide), wide.IsEmpty(), wide.c_str()[wide.GetLength()]),
              std::tuple(expected, expected.empty(), u'\0'));
  }
}

TEST(KaBaseStringTest, CopiesOwnTheirText) {
  KaAString a(u"abc", KA_CP_UTF8);
  KaAString b(a);
  EXPECT_NE(b.c_str(), a.c_str());
  b.GetBuffer(0)[0] = 'x';
  EXPECT_STREQ(a.c_str(), "abc");
  a = b;
  EXPECT_STREQ(a.c_str(), "xbc");
  a = a;
  EXPECT_STREQ(a.c_str(), "xbc");

  KaWString w(u"abc");
  KaWString v;
  v = w;
  v.GetBuffer(0)[0] = u'x';
  EXPECT_EQ(std::tuple(Wide(w), Wide(v)), std::tuple(u"abc", u"xbc"));
}

TEST(KaBaseStringTest, RawBuffers) {
  KaAString a;
  char* buffer = a.GetBuffer(10);
  std::strcpy(buffer, "hello");
  a.ReleaseBuffer();
  EXPECT_EQ(std::pair(a.GetLength(), std::string(a.c_str())), std::pair(5, std::string("hello")));
  a.GetBuffer(2);  // never shrinks below the text
  a.ReleaseBuffer(3);
  EXPECT_STREQ(a.c_str(), "hel");
  a.ReleaseBuffer(99);  // clamped to what the buffer holds
  EXPECT_EQ(a.GetLength(), 10);

  KaWString w(u"ab");
  char16_t* wide = w.GetBuffer(4);
  wide[2] = u'c';
  wide[3] = 0;
  w.ReleaseBuffer();
  EXPECT_EQ(Wide(w), u"abc");

  KaBaseString* base = &w;  // the length through the common base
  EXPECT_EQ(std::pair(base->GetLength(), base->IsEmpty()), std::pair(3, false));
}

}  // namespace
}  // namespace KaOSAL
