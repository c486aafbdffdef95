#include "modules/json_reader.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <cstddef>
#include <string>
#include <vector>

#include "modules/json_parse_error.h"
#include "modules/json_value.h"

namespace wardex {
namespace {

constexpr char16_t kErrorEmpty[] = u"Empty string.";
constexpr char16_t kErrorWhiteSpace[] = u"Invalid whitespace character.";
constexpr char16_t kErrorControl[] = u"Invalid control character.";
constexpr char16_t kErrorFirst[] = u"Invalid first character, expected array, object or comment.";
constexpr char16_t kErrorAfterClose[] = u"Invalid character after a matching close.";
constexpr char16_t kErrorComment[] = u"Invalid comment block.";
constexpr char16_t kErrorSingleQuote[] = u"Invalid single quote.";
constexpr char16_t kErrorObjectStartSeparator[] = u"Invalid separator at start of object.";
constexpr char16_t kErrorObjectExtraSeparator[] = u"Invalid extra separator, expected object name.";
constexpr char16_t kErrorObjectEnd[] =
    u"Invalid end of object, expected another object name after separator.";
constexpr char16_t kErrorUnquotedName[] = u"Invalid unquoted object name.";
constexpr char16_t kErrorColon[] = u"Invalid end of object name, expected colon not found.";
constexpr char16_t kErrorArrayStartSeparator[] = u"Invalid separator at start of array.";
constexpr char16_t kErrorArrayExtraSeparator[] = u"Invalid extra separator, expected value.";
constexpr char16_t kErrorArrayEnd[] =
    u"Invalid end of array, expected another value after separator.";
constexpr char16_t kErrorStringFormat[] = u"Invalid string format.";
constexpr char16_t kErrorEndOfString[] = u"Invalid end of string.";
constexpr char16_t kErrorNoClose[] = u"Invalid format, matching closing character not found.";

// Control characters: C0, DEL and C1.
bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// The control characters that are white space.
bool IsControlSpace(char16_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x85; }

// White space as the wide character class knows it.
bool IsSpace(char16_t c) {
  if (c == 0x20 || IsControlSpace(c)) return true;
  if (c < 0xA0) return false;
  return c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 99;
}

KaString ToKaString(const std::u16string& text) {
  return KaString(text.data(), static_cast<int>(text.size()));
}

// Unescapes a quoted text while it grows, one character at a time, so that
// asking "does the text so far unescape completely?" after every character
// costs nothing: the answer for a longer text only depends on the state
// left by the shorter one. A malformed escape stays malformed however the
// text goes on.
class Unescaper {
 public:
  enum class Status { kComplete, kIncomplete, kMalformed };

  void Reset() {
    text_.clear();
    mode_ = Mode::kPlain;
    hex_count_ = 0;
    malformed_ = false;
  }

  void Feed(char16_t c) {
    if (malformed_) return;
    switch (mode_) {
      case Mode::kPlain:
        if (c == u'\\') {
          mode_ = Mode::kEscape;
        } else {
          text_ += c;
        }
        return;
      case Mode::kEscape:
        FeedEscape(c);
        return;
      case Mode::kUnicode:
        FeedUnicode(c);
        return;
    }
  }

  // True when plain characters can be appended in bulk.
  bool InPlainText() const { return mode_ == Mode::kPlain && !malformed_; }
  void AppendPlain(std::u16string_view run) { text_.append(run); }

  Status status() const {
    if (malformed_) return Status::kMalformed;
    return mode_ == Mode::kPlain ? Status::kComplete : Status::kIncomplete;
  }
  const std::u16string& text() const { return text_; }

 private:
  enum class Mode { kPlain, kEscape, kUnicode };

  void FeedEscape(char16_t c) {
    mode_ = Mode::kPlain;
    switch (c) {
      case u'"':
      case u'\\':
      case u'/':
        text_ += c;
        return;
      case u'b':
        text_ += u'\b';
        return;
      case u'f':
        text_ += u'\f';
        return;
      case u'n':
        text_ += u'\n';
        return;
      case u'r':
        text_ += u'\r';
        return;
      case u't':
        text_ += u'\t';
        return;
      case u'u':
        mode_ = Mode::kUnicode;
        hex_count_ = 0;
        return;
      default:
        malformed_ = true;
        return;
    }
  }

  // A \u escape is kept as written, backslash and all, once its four
  // hexadecimal digits are there.
  void FeedUnicode(char16_t c) {
    hex_[hex_count_++] = c;
    if (hex_count_ < 4) return;
    for (char16_t digit : hex_) {
      if (!IsHexDigit(digit)) {
        malformed_ = true;
        return;
      }
    }
    text_ += u"\\u";
    text_.append(hex_, 4);
    mode_ = Mode::kPlain;
  }

  std::u16string text_;
  Mode mode_ = Mode::kPlain;
  int hex_count_ = 0;
  char16_t hex_[4] = {};
  bool malformed_ = false;
};

enum class Conversion { kValue, kNotValue, kMalformed };

// Reads a signed 64-bit integer in |base| (16 allows a 0x prefix); the whole
// text must be consumed and the value must fit.
bool ParseInt64(std::u16string_view text, int base, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (base == 16 && i + 1 < text.size() && text[i] == u'0' &&
      (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    i += 2;
  }
  if (i == text.size()) return false;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit >= base) return false;
    if (magnitude > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) {
      return false;
    }
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

// The smallest signed type that holds |value|.
JsonType SmallestIntegerType(int64_t value) {
  if (value >= INT8_MIN && value <= INT8_MAX) return kJsonTypeInt8;
  if (value >= INT16_MIN && value <= INT16_MAX) return kJsonTypeInt16;
  if (value >= INT32_MIN && value <= INT32_MAX) return kJsonTypeInt32;
  return kJsonTypeInt64;
}

Conversion ConvertInteger(std::u16string_view token, uint32_t flags, CJsonValue& out) {
  int base = 10;
  if (token.size() > 1 && token[0] == u'0') {
    if ((flags & kJsonReadHexIntegers) && (token[1] == u'x' || token[1] == u'X')) {
      base = 16;
    } else if (!(flags & kJsonReadLeadingZeros) || token[1] < u'0' || token[1] > u'9') {
      return Conversion::kMalformed;
    }
  }
  int64_t value = 0;
  if (!ParseInt64(token, base, value)) return Conversion::kNotValue;
  out = CJsonValue::Integer(value, SmallestIntegerType(value));
  return Conversion::kValue;
}

bool HasNegativeExponent(std::string_view text) {
  const size_t e = text.find_first_of("eE");
  return e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
}

// A number with a ".": single precision when a float holds it as a normal
// positive value, double otherwise. Numbers too large for a double are not
// values; numbers too small for one read as zero.
Conversion ConvertReal(std::u16string_view token, CJsonValue& out) {
  std::string narrow;
  narrow.reserve(token.size());
  for (char16_t c : token) {
    if (c > 0x7F) return Conversion::kNotValue;
    narrow.push_back(static_cast<char>(c));
  }
  const char* begin = narrow.data();
  const char* end = begin + narrow.size();
  if (begin != end && *begin == '+') {
    ++begin;
    if (begin == end || *begin == '+' || *begin == '-') return Conversion::kNotValue;
  }
  double value = 0.0;
  const auto [stop, error] = std::from_chars(begin, end, value);
  if (stop != end || error == std::errc::invalid_argument) return Conversion::kNotValue;
  if (error == std::errc::result_out_of_range) {
    if (!HasNegativeExponent(narrow)) return Conversion::kNotValue;
    value = *begin == '-' ? -0.0 : 0.0;
  }
  if (value >= FLT_MIN && value <= FLT_MAX) {
    out = CJsonValue::Real(static_cast<float>(value), kJsonTypeFloat);
  } else {
    out = CJsonValue::Real(value, kJsonTypeDouble);
  }
  return Conversion::kValue;
}

// Converts a complete token to a scalar.
Conversion ConvertToken(std::u16string_view token, uint32_t flags, CJsonValue& out) {
  if (token == u"true" || token == u"false") {
    out = CJsonValue(token == u"true");
    return Conversion::kValue;
  }
  if (token == u"null") {
    out = CJsonValue(nullptr);
    return Conversion::kValue;
  }
  if (token.size() >= 2 && token.front() == token.back() &&
      (token.front() == u'"' || (token.front() == u'\'' && (flags & kJsonReadSingleQuotes)))) {
    Unescaper unescaper;
    for (char16_t c : token.substr(1, token.size() - 2)) unescaper.Feed(c);
    switch (unescaper.status()) {
      case Unescaper::Status::kComplete:
        out = CJsonValue(ToKaString(unescaper.text()));
        return Conversion::kValue;
      case Unescaper::Status::kIncomplete:
        return Conversion::kNotValue;
      case Unescaper::Status::kMalformed:
        return Conversion::kMalformed;
    }
  }
  if (token.find(u'.') == std::u16string_view::npos) return ConvertInteger(token, flags, out);
  return ConvertReal(token, out);
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

class Reader {
 public:
  Reader(std::u16string_view text, uint32_t flags, CJsonValue& root)
      : text_(text), flags_(flags), root_(root) {}

  bool Run(CJsonParseError* error) {
    root_ = CJsonValue(nullptr);
    if (text_.empty()) return Report(kErrorEmpty, error);
    while (pos_ < text_.size()) {
      if (const size_t run = PlainStringRun(); run > 0) {
        unescaper_.AppendPlain(text_.substr(pos_, run));
        pos_ += run;
        continue;
      }
      if (!Step(text_[pos_])) return Report(message_, error);
      ++pos_;
    }
    if (comment_ != Comment::kNone || !stack_.empty()) return Report(kErrorNoClose, error);
    return true;
  }

 private:
  enum class Sub {
    kExpectName,
    kQuotedName,
    kUnquotedName,
    kAfterName,
    kExpectValue,
    kStringToken,
    kBareToken,
  };
  struct Frame {
    CJsonValue* node;
    bool is_object;
    Sub sub;
    size_t count;
    bool after_separator;
  };
  enum class Comment { kNone, kSlash, kBlock, kLine };

  bool Report(const char16_t* message, CJsonParseError* error) const {
    if (!error) return false;
    error->message = message;
    error->offset = pos_;
    const std::u16string_view before = text_.substr(0, pos_);
    const size_t last_line_feed = before.rfind(u'\n');
    int line = 1;
    for (char16_t c : before) line += c == u'\n';
    error->line = line;
    error->column = static_cast<int>(
        last_line_feed == std::u16string_view::npos ? pos_ + 1 : pos_ - last_line_feed);
    return false;
  }

  bool Fail(const char16_t* message) {
    message_ = message;
    return false;
  }

  // Inside a quoted name or string, the number of characters from pos_ on
  // that cannot end it, need no unescaping and pass the character test.
  size_t PlainStringRun() const {
    if (stack_.empty() || comment_ != Comment::kNone) return 0;
    const Sub sub = stack_.back().sub;
    if ((sub != Sub::kStringToken && sub != Sub::kQuotedName) || !unescaper_.InPlainText()) {
      return 0;
    }
    size_t end = pos_;
    while (end < text_.size()) {
      const char16_t c = text_[end];
      if (c == quote_ || c == u'\\' || IsControl(c)) break;
      ++end;
    }
    return end - pos_;
  }

  bool Step(char16_t c) {
    if (IsControl(c)) {
      if (!(flags_ & kJsonReadControlWhiteSpace)) return Fail(kErrorWhiteSpace);
      if (!IsControlSpace(c)) return Fail(kErrorControl);
    }
    if (comment_ != Comment::kNone) return StepComment(c);
    if (stack_.empty()) return root_closed_ ? StepAfterRoot(c) : StepBeforeRoot(c);
    Frame& frame = stack_.back();
    switch (frame.sub) {
      case Sub::kExpectName:
        return StepExpectName(frame, c);
      case Sub::kQuotedName:
        return StepQuotedName(frame, c);
      case Sub::kUnquotedName:
        return StepUnquotedName(frame, c);
      case Sub::kAfterName:
        return StepAfterName(frame, c);
      case Sub::kExpectValue:
        return frame.is_object ? StepObjectValue(frame, c) : StepArrayValue(frame, c);
      case Sub::kStringToken:
        return StepStringToken(frame, c);
      case Sub::kBareToken:
        return StepBareToken(frame, c);
    }
    return true;
  }

  bool StepComment(char16_t c) {
    switch (comment_) {
      case Comment::kSlash:
        if (c == u'*') {
          comment_ = Comment::kBlock;
          comment_star_ = false;
        } else if (c == u'/') {
          comment_ = Comment::kLine;
        } else {
          return Fail(kErrorComment);
        }
        return true;
      case Comment::kBlock:
        if (c == u'/' && comment_star_) {
          comment_ = Comment::kNone;
        } else {
          comment_star_ = c == u'*';
        }
        return true;
      case Comment::kLine:
        if (c == u'\n' || c == u'\r') comment_ = Comment::kNone;
        return true;
      case Comment::kNone:
        break;
    }
    return true;
  }

  bool StepBeforeRoot(char16_t c) {
    if (IsSpace(c)) return true;
    if (c == u'/') return OpenComment();
    if (c == u'{' || c == u'[') {
      root_ = c == u'{' ? CJsonValue::Object() : CJsonValue::Array();
      Push(root_, c == u'{');
      return true;
    }
    return Fail(kErrorFirst);
  }

  bool StepAfterRoot(char16_t c) { return IsSpace(c) || Fail(kErrorAfterClose); }

  bool OpenComment() {
    comment_ = Comment::kSlash;
    return true;
  }

  void Push(CJsonValue& node, bool is_object) {
    stack_.push_back(
        {&node, is_object, is_object ? Sub::kExpectName : Sub::kExpectValue, 0, false});
  }

  void Close() {
    stack_.pop_back();
    if (stack_.empty()) root_closed_ = true;
  }

  // Counts one more value below the root; false (and the error) past the limit.
  bool CountValue() {
    return ++values_ <= static_cast<size_t>(kJsonMaxValues) || Fail(kJsonErrorTooManyValues);
  }

  // Appends a new object or array to |frame|'s container and descends into it.
  bool OpenChild(Frame& frame, bool is_object) {
    if (stack_.size() >= static_cast<size_t>(kJsonMaxDepth)) return Fail(kJsonErrorTooDeep);
    if (!CountValue()) return false;
    CJsonValue child = is_object ? CJsonValue::Object() : CJsonValue::Array();
    CJsonValue& node = AddValue(frame, std::move(child));
    Push(node, is_object);  // |frame| is invalid from here on
    return true;
  }

  // Stores a finished value in |frame|'s container; the container then
  // expects a separator, its close or (leniently) the next entry.
  CJsonValue& AddValue(Frame& frame, CJsonValue value) {
    ++frame.count;
    frame.after_separator = false;
    if (frame.is_object) {
      frame.sub = Sub::kExpectName;
      return frame.node->SetMember(name_, std::move(value));
    }
    frame.sub = Sub::kExpectValue;
    return frame.node->Append(std::move(value));
  }

  bool StepExpectName(Frame& frame, char16_t c) {
    if (IsSpace(c)) return true;
    switch (c) {
      case u'/':
        return OpenComment();
      case u'\'':
        if (!(flags_ & kJsonReadSingleQuotes)) return Fail(kErrorSingleQuote);
        [[fallthrough]];
      case u'"':
        StartQuoted(frame, Sub::kQuotedName, c);
        return true;
      case u',':
        if (frame.count == 0) return Fail(kErrorObjectStartSeparator);
        if (frame.after_separator) return Fail(kErrorObjectExtraSeparator);
        frame.after_separator = true;
        return true;
      case u'}':
        if (frame.after_separator) return Fail(kErrorObjectEnd);
        Close();
        return true;
      default:
        if (!(flags_ & kJsonReadUnquotedNames)) return Fail(kErrorUnquotedName);
        token_.assign(1, c);
        frame.sub = Sub::kUnquotedName;
        return true;
    }
  }

  void StartQuoted(Frame& frame, Sub sub, char16_t quote) {
    quote_ = quote;
    unescaper_.Reset();
    frame.sub = sub;
  }

  // A quoted name ends at the first closing quote after which the text so
  // far unescapes completely; a quote that does not end it belongs to it.
  bool StepQuotedName(Frame& frame, char16_t c) {
    if (c == quote_ && unescaper_.status() == Unescaper::Status::kComplete) {
      name_ = InternName(unescaper_.text());
      frame.sub = Sub::kAfterName;
    } else {
      unescaper_.Feed(c);
    }
    return true;
  }

  bool StepUnquotedName(Frame& frame, char16_t c) {
    if (IsSpace(c) || c == u':') {
      name_ = InternName(token_);
      frame.sub = c == u':' ? Sub::kExpectValue : Sub::kAfterName;
    } else {
      token_ += c;
    }
    return true;
  }

  // Documents repeat their member names: a small cache of recent names,
  // one per hash slot, shares one string per name instead of allocating one
  // for every repeat.
  KaString InternName(const std::u16string& name) {
    KaString& slot = names_[std::hash<std::u16string>{}(name) % names_.size()];
    if (static_cast<size_t>(slot.GetLength()) != name.size() ||
        std::u16string_view(slot.c_str(), name.size()) != name) {
      slot = ToKaString(name);
    }
    return slot;
  }

  bool StepAfterName(Frame& frame, char16_t c) {
    if (IsSpace(c)) return true;
    if (c == u'/') return OpenComment();
    if (c != u':') return Fail(kErrorColon);
    frame.sub = Sub::kExpectValue;
    return true;
  }

  bool StepObjectValue(Frame& frame, char16_t c) {
    if (IsSpace(c)) return true;
    switch (c) {
      case u'/':
        return OpenComment();
      case u'{':
      case u'[':
        return OpenChild(frame, c == u'{');
      case u',':
      case u'}':
        token_.clear();
        return EndBareToken(frame, c);
      case u'\'':
        if (!(flags_ & kJsonReadSingleQuotes)) break;
        [[fallthrough]];
      case u'"':
        StartQuoted(frame, Sub::kStringToken, c);
        return true;
      default:
        break;
    }
    token_.assign(1, c);
    frame.sub = Sub::kBareToken;
    return true;
  }

  bool StepArrayValue(Frame& frame, char16_t c) {
    if (IsSpace(c)) return true;
    switch (c) {
      case u'/':
        return OpenComment();
      case u'{':
      case u'[':
        return OpenChild(frame, c == u'{');
      case u',':
        if (frame.count == 0) return Fail(kErrorArrayStartSeparator);
        if (frame.after_separator) return Fail(kErrorArrayExtraSeparator);
        frame.after_separator = true;
        return true;
      case u']':
        if (frame.after_separator) return Fail(kErrorArrayEnd);
        Close();
        return true;
      case u'"':
        StartQuoted(frame, Sub::kStringToken, c);
        return true;
      default:
        token_.assign(1, c);
        frame.sub = Sub::kBareToken;
        return true;
    }
  }

  // A quoted value ends as soon as it converts to a complete string, which
  // can only happen at its quote character.
  bool StepStringToken(Frame& frame, char16_t c) {
    if (c == quote_) {
      switch (unescaper_.status()) {
        case Unescaper::Status::kComplete:
          if (!CountValue()) return false;
          AddValue(frame, CJsonValue(ToKaString(unescaper_.text())));
          return true;
        case Unescaper::Status::kMalformed:
          return Fail(kErrorStringFormat);
        case Unescaper::Status::kIncomplete:
          break;
      }
    }
    unescaper_.Feed(c);
    return true;
  }

  // Any other value ends at a separator or at its container's close.
  bool StepBareToken(Frame& frame, char16_t c) {
    if (c == u',' || c == (frame.is_object ? u'}' : u']')) return EndBareToken(frame, c);
    token_ += c;
    return true;
  }

  bool EndBareToken(Frame& frame, char16_t terminator) {
    CJsonValue value;
    switch (ConvertToken(Trim(token_), flags_, value)) {
      case Conversion::kNotValue:
        return Fail(kErrorEndOfString);
      case Conversion::kMalformed:
        return Fail(kErrorStringFormat);
      case Conversion::kValue:
        break;
    }
    if (!CountValue()) return false;
    AddValue(frame, std::move(value));
    if (terminator == u',') {
      frame.after_separator = true;
    } else {
      Close();
    }
    return true;
  }

  const std::u16string_view text_;
  const uint32_t flags_;
  CJsonValue& root_;
  size_t pos_ = 0;
  std::vector<Frame> stack_;
  size_t values_ = 0;  // below the root
  bool root_closed_ = false;
  Comment comment_ = Comment::kNone;
  bool comment_star_ = false;
  char16_t quote_ = u'"';
  Unescaper unescaper_;
  std::u16string token_;            // a bare value or an unquoted name
  KaString name_;                   // the name of the member being read
  std::array<KaString, 64> names_;  // see InternName
  const char16_t* message_ = kErrorEmpty;
};

}  // namespace

bool ReadJson(std::u16string_view text, uint32_t flags, CJsonValue& root, CJsonParseError* error) {
  if (error) error->Reset();
  Reader reader(text, flags, root);
  return reader.Run(error);
}

}  // namespace wardex
