#include "osal/message_format.h"

#include <cstdint>
#include <string_view>

#include "osal/wide_format.h"

namespace KaOSAL::detail {
namespace {

constexpr int kMaxInsert = 99;
// Longest "!directive!" taken as a directive; "%" and the terminator fill the rest.
constexpr size_t kMaxDirective = 30;

enum class Kind : unsigned char { kWide, kNarrow, kInt, kInt64, kDouble, kPointer };

struct Insert {
  Kind kind = Kind::kPointer;
  bool seen = false;
  char16_t format[kMaxDirective + 2] = u"%s";  // the directive as a printf format
  union {
    const void* pointer;
    int integer;
    int64_t integer64;
    double real;
  } value{};
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The type of argument that a printf-style directive reads.
Kind KindOf(std::u16string_view directive) {
  const char16_t conversion = directive.empty() ? u's' : directive.back();
  const bool wide64 =
      directive.find(u"I64") != directive.npos || directive.find(u"ll") != directive.npos;
  switch (conversion) {
    case u's':
      return directive.find(u'h') != directive.npos ? Kind::kNarrow : Kind::kWide;
    case u'S':
      return directive.find(u'l') != directive.npos || directive.find(u'w') != directive.npos
                 ? Kind::kWide
                 : Kind::kNarrow;
    case u'd':
    case u'i':
    case u'u':
    case u'x':
    case u'X':
    case u'o':
      return wide64 ? Kind::kInt64 : Kind::kInt;
    case u'c':
    case u'C':
      return Kind::kInt;
    case u'e':
    case u'E':
    case u'f':
    case u'g':
    case u'G':
    case u'a':
    case u'A':
      return Kind::kDouble;
    default:
      return Kind::kPointer;
  }
}

// Reads the insert number at |p| ("1".."99") and an optional "!directive!" after
// it; advances past both.
int ParseInsert(const char16_t*& p, std::u16string_view& directive) {
  int number = *p++ - u'0';
  if (IsDigit(*p)) number = number * 10 + (*p++ - u'0');
  directive = {};
  if (*p == u'!') {
    const std::u16string_view rest(p + 1);
    const size_t end = rest.find(u'!');
    if (end != rest.npos && end > 0 && end <= kMaxDirective) {
      directive = rest.substr(0, end);
      p += end + 2;
    }
  }
  return number;
}

// Records the directive of every insert that |format| uses; returns the highest number.
int ScanInserts(const char16_t* format, Insert* inserts) {
  int highest = 0;
  for (const char16_t* p = format; *p != 0;) {
    if (*p++ != u'%') continue;
    if (*p == 0) break;
    if (!IsDigit(*p) || *p == u'0') {
      ++p;
      continue;
    }
    std::u16string_view directive;
    const int number = ParseInsert(p, directive);
    Insert& insert = inserts[number];
    if (number > highest) highest = number;
    if (insert.seen) continue;
    insert.seen = true;
    insert.kind = KindOf(directive);
    if (!directive.empty()) {
      directive.copy(insert.format + 1, directive.size());
      insert.format[directive.size() + 1] = 0;
    }
  }
  return highest;
}

void ReadArguments(Insert* inserts, int highest, va_list args) {
  for (int i = 1; i <= highest; ++i) {
    Insert& insert = inserts[i];
    switch (insert.kind) {
      case Kind::kInt:
        insert.value.integer = va_arg(args, int);
        break;
      case Kind::kInt64:
        insert.value.integer64 = va_arg(args, int64_t);
        break;
      case Kind::kDouble:
        insert.value.real = va_arg(args, double);
        break;
      default:
        insert.value.pointer = va_arg(args, const void*);
        break;
    }
  }
}

void AppendInsert(std::u16string& out, const Insert& insert) {
  switch (insert.kind) {
    case Kind::kWide:
      AppendFormat(out, insert.format, static_cast<const char16_t*>(insert.value.pointer));
      break;
    case Kind::kNarrow:
      AppendFormat(out, insert.format, static_cast<const char*>(insert.value.pointer));
      break;
    case Kind::kInt:
      AppendFormat(out, insert.format, insert.value.integer);
      break;
    case Kind::kInt64:
      AppendFormat(out, insert.format, insert.value.integer64);
      break;
    case Kind::kDouble:
      AppendFormat(out, insert.format, insert.value.real);
      break;
    case Kind::kPointer:
      AppendFormat(out, insert.format, insert.value.pointer);
      break;
  }
}

}  // namespace

void AppendMessage(std::u16string& out, const char16_t* format, va_list args) {
  if (format == nullptr) return;
  Insert inserts[kMaxInsert + 1];
  const int highest = ScanInserts(format, inserts);
  ReadArguments(inserts, highest, args);
  for (const char16_t* p = format; *p != 0;) {
    if (*p != u'%') {
      out += *p++;
      continue;
    }
    const char16_t escape = *++p;
    if (escape == 0 || escape == u'0') return;
    if (IsDigit(escape)) {
      std::u16string_view directive;
      AppendInsert(out, inserts[ParseInsert(p, directive)]);
      continue;
    }
    ++p;
    switch (escape) {
      case u'n':
        out += u"\r\n";
        break;
      case u'r':
        out += u'\r';
        break;
      case u't':
        out += u'\t';
        break;
      default:  // "%%", "%.", "%!", "% " and anything else: the character itself
        out += escape;
        break;
    }
  }
}

}  // namespace KaOSAL::detail
