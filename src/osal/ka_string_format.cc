// KaString's formatting, resources and number conversions.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <new>
#include <string>

#include "osal/error_text.h"
#include "osal/ka_string.h"
#include "osal/message_format.h"
#include "osal/string_resources.h"
#include "osal/wide_format.h"
#include "platform/thread_end.h"

namespace KaOSAL {
namespace {

// Formatting goes through one reusable buffer per thread, so that formatting
// a short string costs no heap allocation once the thread has warmed up. A
// buffer that grew for a very long text is given back afterwards; the
// buffer itself goes when the thread ends (a thread that formats after that,
// in the last cleanups of its end, gets a new one, freed in turn).
constexpr size_t kScratchKeep = 4096;

std::u16string& ThreadScratch() {
  static auto* const scratch = new wardex::platform::PerThread<std::u16string>;  // never destroyed
  return scratch->Get();
}

// The thread's buffer, emptied.
class FormatBuffer {
 public:
  FormatBuffer() : text_(ThreadScratch()) { text_.clear(); }
  ~FormatBuffer() {
    if (text_.capacity() > kScratchKeep) std::u16string().swap(text_);
  }
  FormatBuffer(const FormatBuffer&) = delete;
  FormatBuffer& operator=(const FormatBuffer&) = delete;

  std::u16string& text() { return text_; }

 private:
  std::u16string& text_;
};

// The text as the runtime's narrow number parsers read it: characters that
// cannot be part of a number become a byte that stops the parse.
std::string NarrowForNumber(const KaString& text) {
  std::string narrow(static_cast<size_t>(text.GetCharCount()), '?');
  for (size_t i = 0; i < narrow.size(); ++i) {
    const char16_t ch = text.c_str()[i];
    if (ch < 0x80) narrow[i] = static_cast<char>(ch);
  }
  return narrow;
}

bool IsValidBase(int base) { return base == 0 || (base >= 2 && base <= 36); }

KaString FromAscii(const char* first, const char* last) {
  KaString text;
  char16_t* out = text.GetBufferSetLength(static_cast<int>(last - first));
  std::copy(first, last, out);
  return text;
}

template <typename T>
KaString FromChars(T value, int base) {
  char digits[72];
  const auto result = std::to_chars(digits, digits + sizeof(digits), value, base);
  return FromAscii(digits, result.ptr);
}

// The shortest text that reads back as the same value.
template <typename T>
KaString FromFloating(T value) {
  char digits[64];
  const auto result = std::to_chars(digits, digits + sizeof(digits), value);
  return FromAscii(digits, result.ptr);
}

}  // namespace

void KaString::Format(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void KaString::FormatV(const char16_t* format, va_list args) {
  FormatBuffer buffer;
  if (format != nullptr) AppendFormatV(buffer.text(), format, args);
  AssignCopy(static_cast<int>(buffer.text().size()), buffer.text().data());
}

void KaString::FormatMessage(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const bool formatted = FormatMessageV(format, args);
  va_end(args);
  if (!formatted) throw std::bad_alloc();
}

void KaString::FormatMessage(unsigned resource_id, ...) {
  va_list args;
  va_start(args, resource_id);
  const bool formatted = FormatMessageV(FindStringResource(resource_id), args);
  va_end(args);
  if (!formatted) throw std::bad_alloc();
}

bool KaString::FormatMessageV(const char16_t* format, va_list args) {
  FormatBuffer buffer;
  detail::AppendMessage(buffer.text(), format, args);
  if (buffer.text().empty()) return false;
  AssignCopy(static_cast<int>(buffer.text().size()), buffer.text().data());
  return true;
}

bool KaString::FormatErrorCode(uint32_t code) {
  std::u16string text;
  if (!GetErrorText(code, text)) return false;
  AssignCopy(static_cast<int>(text.size()), text.data());
  return true;
}

bool KaString::LoadString(unsigned resource_id) {
  const char16_t* text = FindStringResource(resource_id);
  *this = text;
  return text != nullptr;
}

// ---- Numbers ----

int KaString::ToInt(int base) const {
  if (!IsValidBase(base)) return 0;
  // The runtime's long is 32 bits on the platform the values come from: clamp.
  const long long value = std::strtoll(NarrowForNumber(*this).c_str(), nullptr, base);
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

unsigned KaString::ToUInt(int base) const {
  if (!IsValidBase(base)) return 0;
  const std::string narrow = NarrowForNumber(*this);
  const char* p = narrow.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  if (!std::isalnum(static_cast<unsigned char>(*p))) return 0;
  // A 32-bit strtoul: out of range gives the largest value; a minus sign
  // negates the value that was read.
  const unsigned long long magnitude = std::strtoull(p, nullptr, base);
  if (magnitude > UINT_MAX) return UINT_MAX;
  const auto value = static_cast<unsigned>(magnitude);
  return negative ? 0u - value : value;
}

int64_t KaString::ToInt64() const {
  return std::strtoll(NarrowForNumber(*this).c_str(), nullptr, 10);
}

float KaString::ToFloat() const { return std::strtof(NarrowForNumber(*this).c_str(), nullptr); }

double KaString::ToDouble() const { return std::strtod(NarrowForNumber(*this).c_str(), nullptr); }

KaString KaString::FromInt(int value, int base) {
  if (base < 2 || base > 36) base = 10;
  // Other bases show the bits of a negative value, as the runtime's _itow does.
  if (base != 10) return FromChars(static_cast<unsigned>(value), base);
  return FromChars(value, base);
}

KaString KaString::FromUInt(unsigned value, int base) {
  if (base < 2 || base > 36) base = 10;
  return FromChars(value, base);
}

KaString KaString::FromInt64(int64_t value) { return FromChars(value, 10); }

KaString KaString::FromFloat(float value) { return FromFloating(value); }

KaString KaString::FromDouble(double value) { return FromFloating(value); }

}  // namespace KaOSAL
