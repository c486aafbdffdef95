#include "modules/wildcard_match.h"

#include <gtest/gtest.h>

namespace wardex {
namespace {

TEST(WildcardMatch, FollowsTheWindowsFileSearch) {
  struct Case {
    const char16_t* name;
    const char16_t* pattern;
    bool matches;
  };
  const Case cases[] = {
      {u"WardexModule", u"WardexModule", true},
      {u"wardexmodule", u"WARDEXMODULE", true},
      {u"WardexModule", u"Wardex", false},
      {u"WardexModule.so", u"*.so", true},
      {u"WardexModule.so.1", u"*.so", false},
      {u"WardexModule", u"*Module", true},
      {u"Module", u"*Module", true},
      {u"WardexModul", u"*Module", false},
      {u"abc", u"a?c", true},
      {u"ac", u"a?c", false},
      {u"ab", u"ab?", true},          // "?" may match nothing at the end
      {u"ab.txt", u"ab?.txt", true},  // or before a dot
      {u"abcd", u"ab?", false},
      {u"anything", u"*", true},
      {u"", u"*", true},
      {u"noext", u"*.*", true},
      {u"a.b.c", u"*.*", true},
      {u"noext", u"*.", true},
      {u"has.ext", u"*.", false},
      {u"name", u"name.*", true},
      {u"name.so", u"name.*", true},
      {u"other", u"name.*", false},
      {u"x", u"", false},
      {u"a*b", u"a*b", true},
      {u"aXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXb", u"a*X*X*X*X*X*X*X*X*X*X*X*X*c", false},
      {u"\u00c4rger", u"\u00e4*", true},  // case folding beyond ASCII
      // "?" never takes a dot: at one it matches nothing, as do the "?"s after it.
      {u"a.c", u"a?c", false},
      {u"a.b", u"a??b", false},
      {u"ab.c", u"a??.c", true},
      {u"a.txt", u"???.txt", true},
      {u"abc.txt", u"???.txt", true},
      // A "." before "?" or "*" also matches the end of the name.
      {u"name", u"name.?", true},
      {u"name", u"name.??", true},
      {u"name.s", u"name.?", true},
      {u"name.so", u"name.?", false},
      {u"name", u"name.*so", false},
      {u"name", u"n*.?", true},
      // A "*" before a "." never takes the name's last dot.
      {u"a.bc", u"*.?", false},
      {u"a.b.c", u"*.?", true},
      {u"a.b.so", u"*.so", true},
      {u"a.so.b", u"*.so*", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesFilePattern(c.name, c.pattern), c.matches)
        << "name and pattern #" << (&c - cases);
  }
}

}  // namespace
}  // namespace wardex
