#include "modules/wildcard_match.h"

#include <gtest/gtest.h>

namespace wardex {
namespace {

TEST(WildcardMatch, NamesMatchWithoutRegardToCase) {
  struct Case {
    const char16_t* name;
    const char16_t* pattern;
    bool matches;
  };
  // The agent names the modules it registers exactly; the wildcards are the
  // module iterator tests' ("*Module", "*").
  const Case cases[] = {
      {u"WardexModule", u"WardexModule", true},
      {u"wardexmodule", u"WARDEXMODULE", true},
      {u"\u00c4rger", u"\u00e4rger", true},  // case folding beyond ASCII
      {u"WardexModule", u"Wardex", false},
      {u"Wardex", u"WardexModule", false},
      {u"WardexModule.so", u"WardexModule", false},
      {u"x", u"", false},
      {u"anything", u"*", true},
      {u"WardexModule", u"*Module", true},
      {u"WardexModul", u"*Module", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesFilePattern(c.name, c.pattern), c.matches)
        << "name and pattern #" << (&c - cases);
  }
}

}  // namespace
}  // namespace wardex
