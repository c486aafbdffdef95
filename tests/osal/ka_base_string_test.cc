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

TEST(KaBaseStringTest, NarrowingByCodePage) {
  const std::vector<std::tuple<const char16_t*, unsigned, std::string>> cases = {
      {kGruesse, KA_CP_7BIT, "Gr??e"},
      {kGruesse, KA_CP_UTF8, kGruesseUtf8},
      {kGruesse, KA_CP_ACP, kGruesseUtf8},
      {u"\u20ac 5", KA_CP_7BIT, "? 5"},
      {u"Gr\u00fc\u00dfe \u20ac", 1252, "Gr\374\337e \200"},
      {u"\u20ac", 28605, "\xa4"},
      {u"\u65e5 \U0001F600!", 1252, "? ?!"},  // not in the page: one "?" per character
      {kGruesse, 12345, ""},                  // a page the system cannot convert gives no text
      {u"", KA_CP_UTF8, ""},
      {nullptr, KA_CP_UTF8, ""},
  };
  for (const auto& [text, codepage, expected] : cases) {
    SCOPED_TRACE(expected);
    const KaAString narrow(text, codepage);
    EXPECT_EQ(std::string(narrow.c_str(), narrow.GetLength()), expected);
    EXPECT_EQ(std::strlen(narrow.c_str()), expected.size());
    EXPECT_EQ(narrow.IsEmpty(), expected.empty());
    EXPECT_EQ(narrow.GetCodepage(), codepage);
  }
}

TEST(KaBaseStringTest, WideningByCodePage) {
  const std::vector<std::tuple<const char*, unsigned, std::u16string>> cases = {
    {kGruesseUtf8, KA_CP_UTF8, kGruesse},
    {kGruesseUtf8, KA_CP_ACP, kGruesse},
    {kGruesseUtf8, KA_CP_7BIT, u"Gr????e"},  // every byte from 128 up
    {"a\377b", KA_CP_UTF8, u"a\ufffdb"},     // invalid UTF-8 is replaced, not dropped
    {"Gr\374\337e \200", 1252, u"Gr\u00fc\u00dfe \u20ac"},
    {"\xa4", 28605, u"\u20ac"},
#if defined(_WIN32)
    // Windows' own table gives the bytes that 1252 leaves undefined the C1 controls.
    {"a\201b", 1252, u"a\u0081b"},
#else
    {"a\201b", 1252, u"a\ufffdb"},  // a byte the page does not define
#endif
    {"\xfc", 12345, u""},
    {"", KA_CP_7BIT, u""},
    {nullptr, KA_CP_UTF8, u""},
  };
  for (const auto& [text, codepage, expected] : cases) {
    SCOPED_TRACE(codepage);
    const KaWString wide(text, codepage);
    EXPECT_EQ(Wide(wide), expected);
    EXPECT_EQ(wide.IsEmpty(), expected.empty());
    EXPECT_EQ(wide.c_str()[wide.GetLength()], u'\0');
  }
}

TEST(KaBaseStringTest, ReencodingBetweenPages) {
  // Different pages go through wide text; equal pages copy the bytes as they are.
  const KaAString seven_bit(kGruesseUtf8, KA_CP_UTF8, KA_CP_7BIT);
  EXPECT_STREQ(seven_bit.c_str(), "Gr??e");
  EXPECT_EQ(seven_bit.GetCodepage(), KA_CP_7BIT);
  const KaAString copied("a\xff", KA_CP_UTF8, KA_CP_UTF8);
  EXPECT_STREQ(copied.c_str(), "a\xff");
  const KaAString widened_7bit("Gr\374e", KA_CP_7BIT, KA_CP_UTF8);
  EXPECT_STREQ(widened_7bit.c_str(), "Gr?e");

  const KaWString wide(KaAString(kGruesse, KA_CP_UTF8));
  EXPECT_EQ(Wide(wide), kGruesse);
  const KaAString back(wide, KA_CP_7BIT);
  EXPECT_STREQ(back.c_str(), "Gr??e");
  const KaWString from_7bit(KaAString(kGruesse, KA_CP_7BIT));
  EXPECT_EQ(Wide(from_7bit), u"Gr??e");
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
  EXPECT_EQ(Wide(w), u"abc");
  EXPECT_EQ(Wide(v), u"xbc");
}

TEST(KaBaseStringTest, RawBuffers) {
  KaAString a;
  char* buffer = a.GetBuffer(10);
  std::strcpy(buffer, "hello");
  a.ReleaseBuffer();
  EXPECT_EQ(a.GetLength(), 5);
  EXPECT_STREQ(a.c_str(), "hello");
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
  EXPECT_EQ(base->GetLength(), 3);
  EXPECT_FALSE(base->IsEmpty());
}

}  // namespace
}  // namespace KaOSAL
