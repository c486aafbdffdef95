#include "modules/wildcard_match.h"

#include <cstddef>
#include <vector>

namespace wardex {

namespace {

// The pattern as the file system matches it: the Windows file search turns
// "?" into a question mark that never takes a dot, a "." before "?" or "*"
// into one that may also match the end of the name, and a "*" before "." into
// a star that never takes the name's last dot.
enum class Kind { kLiteral, kStar, kDosStar, kDosQuestionMark, kDosDot };

struct Token {
  Kind kind;
  char16_t c;
};

std::vector<Token> Tokenize(const char16_t* pattern, int length) {
  std::vector<Token> tokens;
  tokens.reserve(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    const char16_t c = pattern[i];
    const char16_t next = i + 1 < length ? pattern[i + 1] : u'\0';
    Kind kind = Kind::kLiteral;
    if (c == u'?') {
      kind = Kind::kDosQuestionMark;
    } else if (c == u'*') {
      kind = next == u'.' ? Kind::kDosStar : Kind::kStar;
    } else if (c == u'.' && (next == u'?' || next == u'*')) {
      kind = Kind::kDosDot;
    }
    tokens.push_back({kind, c});
  }
  return tokens;
}

// Dynamic programming over (pattern position, name position), so that many
// stars cost time proportional to pattern length times name length.
bool Match(const std::vector<Token>& pattern, const char16_t* name, int name_length) {
  int last_dot = -1;
  for (int n = 0; n < name_length; ++n) {
    if (name[n] == u'.') last_dot = n;
  }
  const int pattern_length = static_cast<int>(pattern.size());
  const int columns = name_length + 1;
  // matched[p * columns + n]: pattern[p..] matches name[n..].
  std::vector<char> matched(static_cast<size_t>(pattern_length + 1) * columns, 0);
  matched[static_cast<size_t>(pattern_length) * columns + name_length] = 1;
  for (int p = pattern_length - 1; p >= 0; --p) {
    const Token& token = pattern[static_cast<size_t>(p)];
    for (int n = name_length; n >= 0; --n) {
      const bool at_end = n == name_length;
      const auto next = [&](int dp, int dn) {
        return matched[static_cast<size_t>(p + dp) * columns + n + dn] != 0;
      };
      bool ok = false;
      switch (token.kind) {
        case Kind::kStar:
          ok = next(1, 0) || (!at_end && next(0, 1));
          break;
        case Kind::kDosStar:
          ok = next(1, 0) || (!at_end && n != last_dot && next(0, 1));
          break;
        case Kind::kDosQuestionMark:
          // At a dot or the end it matches nothing, and so do the ones after it.
          ok = at_end || name[n] == u'.' ? next(1, 0) : next(1, 1);
          break;
        case Kind::kDosDot:
          ok = at_end ? next(1, 0) : name[n] == u'.' && next(1, 1);
          break;
        case Kind::kLiteral:
          ok = !at_end && name[n] == token.c && next(1, 1);
          break;
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
  return Match(Tokenize(lower_pattern.c_str(), lower_pattern.GetLength()), lower_name.c_str(),
               lower_name.GetLength());
}

}  // namespace wardex
