// Included first on purpose: plug-ins include this header on its own.
#include "osal/ka_string_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "osal/ka_string.h"
#include "osal/string_resources.h"
#include "platform/thread_end.h"
#include "support/test_env.h"

namespace KaOSAL {
namespace {

std::u16string Text(const KaString& s) { return std::u16string(s.c_str(), s.GetLength()); }

std::vector<std::u16string> Texts(const KaStringList& list) {
  std::vector<std::u16string> out;
  for (const KaString& item : list) out.push_back(Text(item));
  return out;
}

// A text of |length| characters that differs at every position.
std::u16string Pattern(int length, int seed = 0) {
  std::u16string text;
  for (int i = 0; i < length; ++i) text += static_cast<char16_t>(u'A' + (i + seed) % 26);
  return text;
}

TEST(KaStringTest, LockedBufferIsNeverShared) {
  KaString locked(u"secret");
  char16_t* buffer = locked.LockBuffer();
  EXPECT_EQ(locked.GetData()->nRefs, -1);

  KaString copy(locked);
  EXPECT_EQ(std::tuple(copy.c_str() != buffer, Text(copy)), std::tuple(true, u"secret"));
  KaString assigned(u"x");
  assigned = locked;
  EXPECT_EQ(std::tuple(assigned.c_str() != buffer, Text(assigned)), std::tuple(true, u"secret"));

  // Assigning to the locked string writes into its own buffer, which stays locked.
  KaString shared(u"other");
  locked = shared;
  EXPECT_EQ(
      std::tuple(locked.c_str(), locked.GetData()->nRefs, Text(locked), shared.GetData()->nRefs),
      std::tuple(buffer, -1, u"other", 1));
  // Growing into a bigger block keeps the lock.
  locked += Pattern(100).c_str();
  EXPECT_EQ(locked.GetData()->nRefs, -1);
  EXPECT_NE(KaString(locked).c_str(), locked.c_str());

  locked.UnlockBuffer();
  EXPECT_EQ(locked.GetData()->nRefs, 1);
  KaString after(locked);
  KaString assigned_after;
  assigned_after = locked;
  EXPECT_EQ(after.c_str(), locked.c_str());
  EXPECT_EQ(assigned_after.c_str(), locked.c_str());
  // Unlocking a string that was not locked leaves its sharers counted.
  after.UnlockBuffer();
  EXPECT_EQ(locked.GetData()->nRefs, 3);

  // Locking the shared empty string gives it a buffer of its own.
  KaString empty, locked_empty;
  locked_empty.LockBuffer();
  EXPECT_NE(locked_empty.c_str(), empty.c_str());
  EXPECT_EQ(empty.GetData()->nRefs, -1);
  locked_empty.UnlockBuffer();
  EXPECT_EQ(locked_empty.GetData()->nRefs, 1);
}

// A message formatted from |format| and |inserts|.
template <typename Format, typename... Inserts>
KaString Message(Format format, Inserts... inserts) {
  KaString s;
  s.FormatMessage(format, inserts...);
  return s;
}

// Strings made by construction, concatenation, parts, numbers and messages.
TEST(KaStringTest, MadeTexts) {
  const KaString ab(u"ab");
  const KaString s(u"abcdef");
  const std::pair<KaString, std::u16string> cases[] = {
      {ab + KaString(u"cd"), u"abcd"},
      {ab + u"cd", u"abcd"},
      {u"cd" + ab, u"cdab"},
      {ab + u'c', u"abc"},
      {u'c' + ab, u"cab"},
      {KaString() + KaString(), u""},
      {KaString(u'x', 3), u"xxx"},
      {KaString(u'x', 0), u""},
      {KaString(u"abcdef", 3), u"abc"},
      {KaString("Gr\u00fc\u00dfe"), u"Gr\u00fc\u00dfe"},  // UTF-8 bytes
      {KaString("Gr\u00fc\u00dfe", KA_CP_7BIT), u"Gr????e"},
      {KaString(static_cast<const char*>(nullptr)), u""},
      // Parts.
      {s.Left(2), u"ab"},
      {s.Left(-1), u""},
      {s.Left(99), u"abcdef"},
      {s.Right(2), u"ef"},
      {s.Right(99), u"abcdef"},
      {s.Right(-3), u""},
      {s.Mid(2), u"cdef"},
      {s.Mid(6), u""},
      {s.Mid(-2), u"abcdef"},
      {s.Mid(1, 2), u"bc"},
      {s.Mid(4, 99), u"ef"},
      {s.Mid(1, -1), u""},
      {s.SpanIncluding(u"bad"), u"ab"},
      {s.SpanExcluding(u"dc"), u"ab"},
      {s.SpanExcluding(nullptr), u"abcdef"},
      // Numbers.
      {KaString::FromInt(-5), u"-5"},
      {KaString::FromInt(255, 16), u"ff"},
      {KaString::FromInt(-255, 16), u"ffffff01"},
      {KaString::FromInt(5, 2), u"101"},
      {KaString::FromInt(7, 1), u"7"},
      {KaString::FromUInt(4294967295u), u"4294967295"},
      {KaString::FromInt64(INT64_MIN), u"-9223372036854775808"},
      {KaString::FromDouble(0.1), u"0.1"},
      {KaString::FromFloat(0.1f), u"0.1"},
      // Messages insert by number.
      {Message(u"%1 has %2!d! items", u"Box", 3), u"Box has 3 items"},
      {Message(u"%2 before %1", u"one", u"two"), u"two before one"},
      {Message(u"%1%1", u"ab"), u"abab"},
      {Message(u"100%% %1!08X!", 0xABCu), u"100% 00000ABC"},
      {Message(u"%1!I64d!/%2!S!", int64_t{-1} << 40, "n"), u"-1099511627776/n"},
      {Message(u"%1!.2f!", 2.345), u"2.35"},
      {Message(u"a%nb%tc%rd%.%!% e"), u"a\r\nb\tc\rd.! e"},
      {Message(u"kept%0dropped"), u"kept"},
      {Message(u"%10", u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8", u"9", u"ten"), u"ten"},
      {Message(kIdsMenuInfo), u"Info"},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(Text(cases[i].first), cases[i].second) << i;
  EXPECT_EQ(s.Left(6).c_str(), s.c_str());  // the whole text is shared, not copied
  EXPECT_EQ(KaString::FromDouble(1.0 / 3).ToDouble(), 1.0 / 3);
}

// Comparisons, searches, single characters and numbers read from text: each
// row a result and the one expected (long double holds every 64-bit integer
// exactly).
TEST(KaStringTest, Queries) {
  const KaString b(u"b");
  const KaString s(u"Gr\u00fc\u00dfe, gr\u00fc\u00dfe");
  const KaString abc(u"abcdef");
  const int end = s.GetLength();
  const std::pair<long double, long double> cases[] = {
      // Ordinal order is the code units', not the alphabet's.
      {b == u"b", 1},
      {b != u"B", 1},
      {KaString(u"Z") < KaString(u"a"), 1},
      {KaString(u"\u00e9") > u"z", 1},
      {b.Compare(u"c"), -1},
      {b.Compare(nullptr), 1},
      {KaString().Compare(nullptr), 0},
      {KaString(u"ab") == KaString(u"abc"), 0},
      {KaString(u"Gr\u00dc\u00dfe").CompareNoCase(u"gr\u00fc\u00dfE"), 0},
      {KaString(u"\u0391\u0411").CompareNoCase(u"\u03b1\u0431"), 0},  // Greek, Cyrillic
      {KaString(u"abc").CompareNoCase(u"ABD"), -1},
      {KaString(u"a").Collate(u"b"), -1},
      {KaString(u"b").Collate(u"a"), 1},
      {KaString(u"\u00c4BC").CollateNoCase(u"\u00e4bc"), 0},
      {abc.StartsWith(u"abc"), 1},
      {abc.StartsWith(u""), 1},
      {abc.StartsWith(u"abcdefg"), 0},
      {abc.EndsWith(u"ef"), 1},
      {abc.EndsWith(u"e"), 0},
      // Searches.
      {s.Find(u'r'), 1},
      {s.Find(u'r', 2), 8},
      {s.Find(u'r', end), -1},
      {s.Find(u'e', end - 1), end - 1},
      {s.Find(u'r', -5), 1},
      {s.Find(u"gr"), 7},
      {s.Find(u"e", 5), 11},
      {s.Find(u"e", end), -1},
      {s.Find(u"", end), -1},
      {s.Find(nullptr), -1},
      {KaString().Find(u'a'), -1},
      {s.FindNoCase(u"GR\u00dc"), 0},
      {s.FindNoCase(u"GR\u00dc", 1), 7},
      {s.FindNoCase(u"x"), -1},
      {s.FindNoCase(u"e", end), -1},
      {s.FindOneOf(u",\u00df"), 3},
      {s.ReverseFind(u'r'), 8},
      {s.ReverseFindOneOf(u"Gr"), 8},
      {s.ReverseFindOneOf(u""), -1},
      // Characters outside the text are zero.
      {KaString().GetCharAt(0), 0},
      {b.GetCharAt(0), u'b'},
      {abc.GetCharAt(6), 0},
      {abc.GetCharAt(-1), 0},
      {abc[1], u'b'},
      // Numbers.
      {KaString(u"  -17 apples").ToInt(), -17},
      {KaString(u"apples").ToInt(), 0},
      {KaString(u"\u0661").ToInt(), 0},  // only the runtime's digits count
      {KaString(u"ff").ToInt(16), 255},
      {KaString(u"0x1F").ToInt(16), 31},
      {KaString(u"101").ToInt(2), 5},
      {KaString(u"12").ToInt(99), 0},
      {KaString(u"99999999999").ToInt(), INT_MAX},
      {KaString(u"-99999999999").ToInt(), INT_MIN},
      {KaString(u"99999999999").ToUInt(), 4294967295u},
      {KaString(u"-1").ToUInt(), 4294967295u},
      {KaString(u"- 2").ToUInt(), 0},
      {KaString(u"FFFFFFFF").ToUInt(16), 0xFFFFFFFFu},
      {KaString(u"-9223372036854775808").ToInt64(), INT64_MIN},
      {KaString(u"1700000000000").ToInt64(), 1700000000000},
      {KaString(u"3.5e2").ToDouble(), 350},
      {KaString(u"0.25x").ToFloat(), 0.25},
      {KaString(u"x1").ToDouble(), 0}};
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << i;
}

TEST(KaStringTest, RawBufferWrites) {
  KaString s;
  char16_t* buffer = s.GetBufferSetLength(5);
  const char16_t raw[] = {u'a', u'b', 0, u'd', u'e'};
  std::copy(raw, raw + 5, buffer);
  EXPECT_EQ(std::pair(s.GetLength(), s.GetCharCount()), std::pair(5, 2));
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 2);

  buffer = s.GetBuffer(10);
  std::u16string(u"0123456789").copy(buffer, 10);
  buffer[10] = 0;
  s.ReleaseBuffer(4);
  EXPECT_EQ(std::pair(Text(s), s.c_str()[4]), std::pair(std::u16string(u"0123"), u'\0'));

  // -1 measures up to the first zero but never past the buffer.
  buffer = s.GetBuffer(0);
  const int capacity = s.GetData()->nAllocLength;
  std::fill(buffer, buffer + capacity + 1, u'x');
  s.ReleaseBuffer();
  EXPECT_EQ(std::pair(s.GetLength(), s.c_str()[capacity]), std::pair(capacity, u'\0'));
}

// Every change, on a string of its own and on a copy that shares the buffer:
// there the write must never show through the other copy.
TEST(KaStringTest, ChangesOnOwnAndSharedBuffers) {
  const std::u16string long_text = Pattern(5000);
  using Change = std::function<int(KaString&)>;  // a change and its result
  const std::vector<std::tuple<Change, std::u16string, int, std::u16string>> cases = {
      {[](KaString& s) { return s.Insert(0, u'x'); }, u"ab", 3, u"xab"},
      {[](KaString& s) { return s.Insert(99, u"yz"); }, u"ab", 4, u"abyz"},
      {[](KaString& s) { return s.Insert(-1, u"yz"); }, u"ab", 4, u"yzab"},
      {[](KaString& s) { return s.Delete(1); }, u"abc", 2, u"ac"},
      {[](KaString& s) { return s.Delete(1, 99); }, u"abc", 1, u"a"},
      {[](KaString& s) { return s.Delete(3, 1); }, u"abc", 3, u"abc"},
      {[](KaString& s) { return s.Remove(u'a'); }, u"banana", 3, u"bnn"},
      {[](KaString& s) { return s.Replace(u'a', u'o'); }, u"banana", 3, u"bonono"},
      {[](KaString& s) { return s.Replace(u'a', u'a'); }, u"banana", 0, u"banana"},
      {[](KaString& s) { return s.Replace(u"an", u"AN"); }, u"banana", 2, u"bANANa"},
      {[](KaString& s) { return s.Replace(u"aa", u"a"); }, u"aaaaa", 2, u"aaa"},
      {[](KaString& s) { return s.Replace(u"a", u""); }, u"aaa", 3, u""},
      {[](KaString& s) { return s.Replace(u"a", nullptr); }, u"bab", 1, u"bb"},
      {[](KaString& s) { return s.Replace(u"", u"x"); }, u"ab", 0, u"ab"},
      {[](KaString& s) { return s.Replace(u" & ", u" && "); }, u"A & B & C", 2, u"A && B && C"},
      // Trimming and reversing return nothing: 0 stands for it.
      {[](KaString& s) { return s.Trim(), 0; }, u" \t\r\n ab c \u00a0\u3000", 0, u"ab c"},
      {[](KaString& s) { return s.Trim(), 0; }, u"   ", 0, u""},
      {[](KaString& s) { return s.TrimLeft(), 0; }, u"  ab  ", 0, u"ab  "},
      {[](KaString& s) { return s.TrimRight(), 0; }, u"  ab  ", 0, u"  ab"},
      {[](KaString& s) { return s.Trim(u'x'), 0; }, u"xxaxbxx", 0, u"axb"},
      {[](KaString& s) { return s.TrimLeft(u'x'), 0; }, u"xxa", 0, u"a"},
      {[](KaString& s) { return s.TrimRight(u'x'), 0; }, u"axx", 0, u"a"},
      {[](KaString& s) { return s.Trim(u"\"'"), 0; }, u"'\"quoted\"'", 0, u"quoted"},
      {[](KaString& s) { return s.TrimLeft(u"/\\"), 0; }, u"\\/path/", 0, u"path/"},
      {[](KaString& s) { return s.TrimRight(u"/\\"), 0; }, u"path\\/", 0, u"path"},
      {[](KaString& s) { return s.Trim(u"ab"), 0; }, u"abba", 0, u""},
      {[](KaString& s) { return s.MakeReverse(), 0; }, u"ab\U0001F600c", 0,
       u"c\U0001F600ba"},  // pair kept
      {[](KaString& s) { return s.MakeUpper(), 0; }, u"Ab", 0, u"AB"},
      {[](KaString& s) { return s.MakeLower(), 0; }, u"Ab", 0, u"ab"},
      {[](KaString& s) { return s.SetAt(0, u'J'), 0; }, u"Hello", 0, u"Jello"},
      {[](KaString& s) { return s += u"!", 0; }, u"ab", 0, u"ab!"},
      {[](KaString& s) { return s += u'!', 0; }, u"ab", 0, u"ab!"},
      // Growing one character at a time across every pool: the result counts
      // the steps that left no terminator.
      {[](KaString& s) {
         int unterminated = 0;
         for (char16_t ch : Pattern(600)) unterminated += (s += ch).c_str()[s.GetLength()] != 0;
         return unterminated;
       },
       u"x", 0, u"x" + Pattern(600)},
      {[](KaString& s) { return s = u"other", 0; }, u"ab", 0, u"other"},
      {[](KaString& s) { return s.Empty(), 0; }, u"ab", 0, u""},
      {[](KaString& s) { return s.GetBuffer(0)[0] = u'Y', 0; }, u"ab", 0, u"Yb"},
      {[](KaString& s) { return s.GetBufferSetLength(3)[0] = u'Y', 0; }, u"Hello", 0, u"Yel"},
      {[](KaString& s) { return s.LockBuffer()[0] = u'Y', 0; }, u"ab", 0, u"Yb"},
      {[](KaString& s) { return s.ReleaseBuffer(2), 0; }, u"Hello", 0, u"He"},
      // Error texts and resources: an unknown code keeps the text, an unknown resource empties it.
      {[](KaString& s) { return int{s.FormatErrorCode(2)}; }, u"ab", 1,
       u"The system cannot find the file specified.\r\n"},
      {[](KaString& s) { return int{s.FormatErrorCode(0x1234567)}; }, u"ab", 0, u"ab"},
      {[](KaString& s) { return int{s.LoadString(kIdsMenuExit)}; }, u"ab", 1,
       u"Close Corvane Tray"},
      {[](KaString& s) { return int{s.LoadString(0xFFFF)}; }, u"ab", 0, u""},
      // Formatting fills the string's own buffer whatever the length.
      {[](KaString& s) { return s.Format(u"%d", 7), 0; }, u"Hello", 0, u"7"},
      {[](KaString& s) { return s.Format(u""), 0; }, u"old", 0, u""},
      {[&](KaString& s) { return s.Format(u"%s!", long_text.c_str()), 0; }, u"old", 0,
       long_text + u"!"},
      // Sources inside the string's own buffer are copied before it changes.
      {[](KaString& s) { return s = s.c_str() + 2, 0; }, u"abcdef", 0, u"cdef"},
      {[](KaString& s) { return s += s, 0; }, u"cdef", 0, u"cdefcdef"},
      {[](KaString& s) { return s.Insert(2, s.c_str()); }, u"cdefcdef", 16, u"cdcdefcdefefcdef"},
      {[](KaString& s) { return s.Format(u"[%s]", s.c_str()), 0; }, u"efcdef", 0, u"[efcdef]"},
  };
  for (const auto& [change, before, result, after] : cases) {
    SCOPED_TRACE(testing::PrintToString(before));
    for (const bool shared : {false, true}) {
      KaString original(before.c_str());
      const char16_t* buffer = original.c_str();
      KaString s = shared ? original : KaString(before.c_str());
      EXPECT_EQ(change(s), result);
      // The other copy keeps its text and buffer, shared still (2) when nothing was written.
      EXPECT_EQ(std::tuple(Text(s), Text(original), original.c_str(), original.GetData()->nRefs),
                std::tuple(after, before, buffer, s.c_str() == buffer ? 2 : 1));
    }
  }
}

TEST(KaStringTest, CaseMappingCoversLatinGreekAndCyrillic) {
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u"gr\u00fc\u00dfe \u00e4\u00f6\u00fc", u"GR\u00dc\u00dfE \u00c4\u00d6\u00dc"},  // ß stays
      {u"\u00e0\u00fe\u00ff", u"\u00c0\u00de\u0178"},
      {u"\u0105\u010d\u0142\u017c\u0151", u"\u0104\u010c\u0141\u017b\u0150"},    // Latin Extended-A
      {u"\u01ce\u0219\u021b", u"\u01cd\u0218\u021a"},                            // Latin Extended-B
      {u"\u1ea1\u1ec7", u"\u1ea0\u1ec6"},                                        // Vietnamese
      {u"\u03b1\u03b2\u03b3 \u03ac\u03ce", u"\u0391\u0392\u0393 \u0386\u038f"},  // Greek
      {u"\u043f\u0440\u0438\u0432\u0435\u0442 \u0451\u0457",
       u"\u041f\u0420\u0418\u0412\u0415\u0422 \u0401\u0407"},  // Cyrillic
      {u"123 !?", u"123 !?"},
  };
  for (const auto& [lower, upper] : cases) {
    KaString up(lower.c_str());
    KaString down(upper.c_str());
    up.MakeUpper();
    down.MakeLower();
    // ß has no upper case of one character, so it round-trips as itself.
    EXPECT_EQ(std::pair(Text(up), Text(down)), std::pair(upper, lower));
  }
  KaString sigma(u"\u03c3\u03c2");  // both lower-case sigmas
  sigma.MakeUpper();
  EXPECT_EQ(Text(sigma), u"\u03a3\u03a3");
}

TEST(KaStringTest, FreeExtraShrinksToTheSmallestPool) {
  KaString s(Pattern(300).c_str());
  s.Delete(10, 290);
  EXPECT_EQ(s.GetData()->nAllocLength, 512);
  s.FreeExtra();
  EXPECT_EQ(std::pair(s.GetData()->nAllocLength, Text(s)), std::pair(64, Pattern(10)));
}

TEST(KaStringTest, Tokenize) {
  const std::vector<std::tuple<std::u16string, const char16_t*, std::vector<std::u16string>>>
      cases = {
          {u";a;;b;", u";", {u"a", u"", u"b"}},
          {u"", u";", {}},
          {u";", u";", {}},
          {u";;", u";", {u""}},
          {u"a::b::", u"::", {u"a", u"b"}},
          {u"::::a", u"::", {u"", u"a"}},
          {u"a:b", u"::", {u"a:b"}},
          {u"abc", u"", {u"abc"}},
          {u"abc", nullptr, {u"abc"}},
      };
  for (const auto& [text, separator, tokens] : cases) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    KaStringList list;
    EXPECT_TRUE(KaString(text.c_str()).Tokenize(separator, list));
    EXPECT_EQ(Texts(list), tokens);
  }
}

KaString* g_formatted_at_exit = nullptr;

// Formats in its destructor, which runs as the thread ends, after the thread's
// format buffer is gone (per-thread objects go in the order of their kinds).
struct FormatsWhileTheThreadEnds {
  ~FormatsWhileTheThreadEnds() { g_formatted_at_exit->Format(u"%s %d", u"late", 42); }
};

TEST(KaStringTest, FormatWorksWhileAThreadEnds) {
  KaString result;
  g_formatted_at_exit = &result;
  static auto* const late = new wardex::platform::PerThread<FormatsWhileTheThreadEnds>;
  std::thread([] {
    KaString early;
    early.Format(u"%s", Pattern(100).c_str());  // the thread's buffer is there from here on
    late->Get();
  }).join();
  EXPECT_EQ(Text(result), u"late 42");
}

TEST(KaStringTest, FormatMessageWithoutTextThrows) {
  KaString s(u"before");
  EXPECT_THROW(s.FormatMessage(u""), std::bad_alloc);
  EXPECT_THROW(s.FormatMessage(u"%0ignored"), std::bad_alloc);
  EXPECT_THROW(s.FormatMessage(static_cast<const char16_t*>(nullptr)), std::bad_alloc);
  EXPECT_THROW(s.FormatMessage(0xFFFFu), std::bad_alloc);  // no such resource
  EXPECT_EQ(Text(s), u"before");
}

// Strings made on one thread and freed on another, in every pool and on the
// heap: the pools must neither lose nor hand out a block twice.
TEST(KaStringTest, PoolsServeManyThreadsMakingAndFreeing) {
  const int kThreads = 8;
  const int kRounds = wardex::test::Scaled(4000, 400);
  const int kLengths[] = {1, 40, 64, 65, 100, 128, 200, 256, 300, 512, 513, 700};
  std::mutex mutex;
  std::vector<KaString> handed;  // strings passed between threads
  std::atomic<int> mismatches{0};
  auto worker = [&](int id) {
    std::vector<KaString> mine;
    for (int round = 0; round < kRounds; ++round) {
      const int length = kLengths[(round + id) % std::size(kLengths)];
      const std::u16string expected = Pattern(length, id + round);
      KaString s(expected.c_str());
      KaString taken;
      {
        std::lock_guard lock(mutex);
        handed.push_back(s);
        if (handed.size() > 64) {
          taken = std::move(handed.front());
          handed.erase(handed.begin());
        }
      }
      mine.push_back(std::move(s));
      if (mine.size() > 16) mine.erase(mine.begin());
      if (Text(mine.back()) != expected) ++mismatches;
      // A string from another thread: its text must still be its own pattern.
      if (!taken.IsEmpty() && Text(taken) != Pattern(taken.GetLength(), taken.GetAt(0) - u'A')) {
        ++mismatches;
      }
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back(worker, i);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  for (const KaString& s : handed) EXPECT_EQ(s.GetData()->nRefs, 1);
}

// Copies of one shared string, taken and written on many threads at once:
// reference counts must stay exact and no write may reach another copy.
TEST(KaStringTest, SharedBufferCopiedAndWrittenOnManyThreads) {
  const KaString shared(Pattern(300).c_str());
  const int kThreads = 8;
  const int kRounds = wardex::test::Scaled(20000, 2000);
  std::atomic<int> mismatches{0};
  auto worker = [&](int id) {
    for (int round = 0; round < kRounds; ++round) {
      KaString copy(shared);
      KaString second;
      second = copy;
      if (round % 2 == 0) {
        second.SetAt(0, static_cast<char16_t>(u'a' + id));
        if (second.GetAt(0) != u'a' + id || copy.GetAt(0) != u'A') ++mismatches;
      } else {
        copy += u'!';
        if (copy.GetLength() != 301 || second.GetLength() != 300) ++mismatches;
      }
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back(worker, i);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(std::tuple(mismatches.load(), shared.GetData()->nRefs, Text(shared)),
            std::tuple(0, 1, Pattern(300)));
}

// A thread's cached blocks go back when it ends, also blocks freed by its
// thread-local strings after its cache was handed back.
TEST(KaStringTest, BlocksFreedWhileAThreadEndsStayUsable) {
  const int kThreads = 16;
  static auto* const lates = new wardex::platform::PerThread<KaString>;
  for (int i = 0; i < kThreads; ++i) {
    std::thread([i] {
      KaString& late = lates->Get();  // freed after the thread's cache went back
      std::vector<KaString> strings;
      for (int n = 0; n < 100; ++n) strings.emplace_back(Pattern(1 + (n * 7) % 600, i).c_str());
      late = strings[3];
      late += u'!';
    }).join();
  }
  std::vector<KaString> after;
  for (int n = 0; n < 1000; ++n) after.emplace_back(Pattern(1 + n % 512, n).c_str());
  for (int n = 0; n < 1000; ++n) ASSERT_EQ(Text(after[n]), Pattern(1 + n % 512, n));
}

TEST(KaStringListTest, KeepsOrderThroughRemovalAndWritesDoNotReachTheSource) {
  KaStringList list;
  list.Add(u"kept");
  ASSERT_TRUE(KaString(u"a|b|c").Tokenize(u"|", list));  // appends to what the list holds
  list.RemoveAt(1);
  EXPECT_EQ(Texts(list), (std::vector<std::u16string>{u"kept", u"b", u"c"}));
  const KaString source(u"shared");
  list.Add(source);
  list.GetAt(3).SetAt(0, u'S');
  EXPECT_EQ(std::tuple(Text(source), Text(list[3])), std::tuple(u"shared", u"Shared"));
  list.RemoveAll();
  EXPECT_EQ(std::pair(list.IsEmpty(), list.GetCount()), std::pair(true, 0));
}

#if defined(__SANITIZE_ADDRESS__)
// Freed pool blocks are poisoned, so a use after free is caught as on the heap
// (all but the first bytes of a block, which hold the free list's links).
TEST(KaStringDeathTest, FreedBufferIsPoisoned) {
  const char16_t* dangling = nullptr;
  {
    KaString s(u"gone for good");
    dangling = s.c_str();
  }
  EXPECT_DEATH({ [[maybe_unused]] volatile char16_t ch = dangling[10]; }, "use-after-poison");
}
#endif

}  // namespace
}  // namespace KaOSAL
