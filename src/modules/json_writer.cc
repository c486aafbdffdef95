#include "modules/json_writer.h"

#include <cmath>
#include <string_view>

#include "modules/json_value.h"
#include "osal/wide_format.h"

namespace wardex {
namespace {

std::u16string_view View(const KaString& text) {
  return {text.c_str(), static_cast<size_t>(text.GetLength())};
}

bool IsWhiteSpaceOrControl(char16_t c) { return c == u' ' || c < 0x20 || (c >= 0x7F && c <= 0xA0); }

// A calendar date and time of day.
struct DateParts {
  int year, month, day, hour, minute, second;
};

// Splits a date in the platform's encoding: whole days since 30 December
// 1899, the fraction (taken without its sign, as the platform does for dates
// before 1899) the time of day, rounded to the second.
DateParts SplitDate(double date) {
  if (!std::isfinite(date) || std::fabs(date) > 3e6) date = 0.0;  // beyond any calendar we write
  double whole = std::trunc(date);
  long long seconds = std::llround(std::fabs(date - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += date < 0 ? -1 : 1;
  }
  // Civil date from days since 1970-01-01 (the proleptic Gregorian calendar).
  constexpr long long kDaysFrom1899To1970 = 25569;
  long long z = static_cast<long long>(whole) - kDaysFrom1899To1970 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return {year,
          month,
          day,
          static_cast<int>(seconds / 3600),
          static_cast<int>(seconds / 60 % 60),
          static_cast<int>(seconds % 60)};
}

class Writer {
 public:
  Writer(uint32_t flags, const CJsonWriteOptions& options, std::u16string& out)
      : flags_(flags), options_(options), out_(out) {}

  void WriteValue(const CJsonValue& value, int depth) {
    switch (value.GetKind()) {
      case JsonKind::kUndefined:
        return;
      case JsonKind::kNull:
        out_ += u"null";
        return;
      case JsonKind::kBoolean:
        out_ += value.GetBool().value_or(false) ? u"true" : u"false";
        return;
      case JsonKind::kString:
        WriteString(View(value.RawString()));
        return;
      case JsonKind::kNumber:
        WriteNumber(value);
        return;
      case JsonKind::kObject:
        WriteObject(value, depth);
        return;
      case JsonKind::kArray:
        WriteArray(value, depth);
        return;
    }
  }

 private:
  bool Pretty() const { return flags_ & (kJsonWritePrettyTabs | kJsonWritePrettySpaces); }

  void WriteNumber(const CJsonValue& value) {
    switch (value.GetType()) {
      case kJsonTypeDate:
        WriteDate(value.RawReal());
        return;
      case kJsonTypeFloat:
      case kJsonTypeDouble:
      case kJsonTypeDecimal:
        WriteReal(value.RawReal());
        return;
      default:
        break;
    }
    char buffer[24];
    const auto result = value.IsUnsignedInteger()
                            ? std::to_chars(buffer, buffer + sizeof buffer,
                                            static_cast<uint64_t>(value.RawInteger()))
                            : std::to_chars(buffer, buffer + sizeof buffer, value.RawInteger());
    AppendAscii(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
  }

  // "%.*f" under the "C" locale: to_chars never looks at any locale, so no
  // other thread's formatting is disturbed.
  void WriteReal(double real) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, real, options_.number_format,
                                      options_.precision);
    if (result.ec != std::errc()) {
      // Only a precision far beyond the double's digits gets here.
      const auto shortest = std::to_chars(buffer, buffer + sizeof buffer, real);
      AppendAscii(std::string_view(buffer, static_cast<size_t>(shortest.ptr - buffer)));
      return;
    }
    AppendAscii(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
  }

  void WriteDate(double date) {
    const DateParts parts = SplitDate(date);
    std::u16string text;
    if (flags_ & kJsonWriteLocaleDates) {
      KaOSAL::AppendFormat(text, u"%d/%d/%04d %d:%02d:%02d", parts.month, parts.day, parts.year,
                           parts.hour, parts.minute, parts.second);
    } else {
      KaOSAL::AppendFormat(text, u"%04d-%02d-%02d %02d:%02d:%02d", parts.year, parts.month,
                           parts.day, parts.hour, parts.minute, parts.second);
    }
    WriteString(text);
  }

  void AppendAscii(std::string_view text) { out_.append(text.begin(), text.end()); }

  void WriteString(std::u16string_view text) {
    const char16_t quote =
        (flags_ & kJsonWriteSingleQuotes) && text.find(u'\'') == std::u16string_view::npos ? u'\''
                                                                                           : u'"';
    out_ += quote;
    const bool minimal = flags_ & kJsonWriteMinimalEscapes;
    size_t plain_start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      const char16_t escape = EscapeFor(text[i], minimal);
      if (escape == 0) continue;
      out_.append(text.substr(plain_start, i - plain_start));
      out_ += u'\\';
      out_ += escape;
      plain_start = i + 1;
    }
    out_.append(text.substr(plain_start));
    out_ += quote;
  }

  // The character after the backslash that stands for |c|, or 0 when |c|
  // is written as it is.
  static char16_t EscapeFor(char16_t c, bool minimal) {
    switch (c) {
      case u'"':
      case u'\\':
        return c;
      case u'\b':
        return minimal ? 0 : u'b';
      case u'\f':
        return minimal ? 0 : u'f';
      case u'\n':
        return minimal ? 0 : u'n';
      case u'\r':
        return minimal ? 0 : u'r';
      case u'\t':
        return minimal ? 0 : u't';
      default:
        return 0;
    }
  }

  void WriteName(const KaString& name) {
    const std::u16string_view text = View(name);
    if ((flags_ & kJsonWriteUnquotedNames) && CanGoUnquoted(text)) {
      out_.append(text);
    } else {
      WriteString(text);
    }
  }

  static bool CanGoUnquoted(std::u16string_view name) {
    if (name.empty() || name == u"true" || name == u"false" || name == u"null") return false;
    for (char16_t c : name) {
      if (c == u'"' || c == u'\'' || IsWhiteSpaceOrControl(c)) return false;
    }
    return true;
  }

  // Entries of a container: written one per line when pretty-printing and
  // there is more than one of them.
  void OpenEntry(size_t index, size_t count, int depth) {
    if (index > 0) out_ += u',';
    if (!Pretty() || count < 2) return;
    out_ += u'\n';
    Indent(depth + 1);
  }

  void CloseEntries(size_t count, int depth) {
    if (!Pretty() || count < 2) return;
    out_ += u'\n';
    Indent(depth);
  }

  void Indent(int depth) {
    if (flags_ & kJsonWritePrettyTabs) {
      out_.append(static_cast<size_t>(depth), u'\t');
    } else {
      out_.append(static_cast<size_t>(depth) * static_cast<size_t>(options_.indent_width), u' ');
    }
  }

  // Calls |write| for each member that is written, in the order written.
  template <typename Write>
  void ForEachMember(const CJsonValue& object, Write write) const {
    if (object.HasInsertionOrder() && !(flags_ & kJsonWriteSortedNames)) {
      for (const KaString& name : object.MemberOrder()) {
        const CJsonValue* value = object.Find(name);
        if (value && value->GetKind() != JsonKind::kUndefined) write(name, *value);
      }
      return;
    }
    for (const auto& [name, value] : object.Members()) {
      if (value.GetKind() != JsonKind::kUndefined) write(name, value);
    }
  }

  template <typename Write>
  void ForEachElement(const CJsonValue& array, Write write) const {
    for (const CJsonValue& element : array.Elements()) {
      if (element.GetKind() != JsonKind::kUndefined) write(element);
    }
  }

  // How many entries ForEach* visits; only pretty-printing needs to know.
  template <typename ForEach>
  size_t CountForLayout(ForEach for_each) const {
    size_t count = 0;
    if (Pretty()) for_each([&count](const auto&...) { ++count; });
    return count;
  }

  void WriteObject(const CJsonValue& object, int depth) {
    const size_t count = CountForLayout([&](auto visit) { ForEachMember(object, visit); });
    size_t index = 0;
    out_ += u'{';
    ForEachMember(object, [&](const KaString& name, const CJsonValue& value) {
      OpenEntry(index++, count, depth);
      WriteName(name);
      out_ += Pretty() ? u": " : u":";
      WriteValue(value, depth + 1);
    });
    CloseEntries(count, depth);
    out_ += u'}';
  }

  void WriteArray(const CJsonValue& array, int depth) {
    const size_t count = CountForLayout([&](auto visit) { ForEachElement(array, visit); });
    size_t index = 0;
    out_ += u'[';
    ForEachElement(array, [&](const CJsonValue& element) {
      OpenEntry(index++, count, depth);
      WriteValue(element, depth + 1);
    });
    CloseEntries(count, depth);
    out_ += u']';
  }

  const uint32_t flags_;
  const CJsonWriteOptions& options_;
  std::u16string& out_;
};

}  // namespace

void WriteJson(const CJsonValue& value, uint32_t flags, const CJsonWriteOptions& options,
               std::u16string& out) {
  Writer(flags, options, out).WriteValue(value, 0);
}

}  // namespace wardex
