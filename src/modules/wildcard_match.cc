#include "modules/wildcard_match.h"

#include <cstddef>
#include <vector>

namespace wardex {

namespace {

// Dynamic programming over (pattern position, name position), so that many
// stars cost time proportional to pattern length times name length.
bool Match(const char16_t* pattern, int pattern_length, const char16_t* name, int name_length) {
  const int columns = name_length + 1;
  // matched[p * columns + n]: pattern[p..] matches name[n..].
  std::vector<char> matched(static_cast<size_t>(pattern_length + 1) * columns, 0);
  matched[static_cast<size_t>(pattern_length) * columns + name_length] = 1;
  for (int p = pattern_length - 1; p >= 0; --p) {
    const char16_t c = pattern[p];
    const bool rest_is_star = p + 2 == pattern_length && pattern[p + 1] == u'*';
    for (int n = name_length; n >= 0; --n) {
      const bool at_end = n == name_length;
      const auto next = [&](int dp, int dn) {
        return matched[static_cast<size_t>(p + dp) * columns + n + dn] != 0;
      };
      bool ok = false;
      if (c == u'*') {
        ok = next(1, 0) || (!at_end && next(0, 1));
      } else if (c == u'?') {
        ok = (!at_end && next(1, 1)) || ((at_end || name[n] == u'.') && next(1, 0));
      } else if (c == u'.' && at_end && rest_is_star) {
        ok = true;  // "x.*" also matches "x"
      } else {
        ok = !at_end && name[n] == c && next(1, 1);
      }
      matched[static_cast<size_t>(p) * columns + n] = ok ? 1 : 0;
    }
  }
  return matched[0] != 0;
}

}  // namespace

bool MatchesFilePattern(const KaOSAL::KaString& name, const KaOSAL::KaString& pattern) {
  if (pattern == u"*.*") return true;
  KaOSAL::KaString lower_name = name;
  KaOSAL::KaString lower_pattern = pattern;
  lower_name.MakeLower();
  lower_pattern.MakeLower();
  // A trailing dot asks for names without an extension.
  if (lower_pattern.GetLength() > 1 && lower_pattern.EndsWith(u".")) {
    if (lower_name.Find(u'.') >= 0) return false;
    lower_pattern = lower_pattern.Left(lower_pattern.GetLength() - 1);
  }
  return Match(lower_pattern.c_str(), lower_pattern.GetLength(), lower_name.c_str(),
               lower_name.GetLength());
}

}  // namespace wardex
