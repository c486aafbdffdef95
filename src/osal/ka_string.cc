// KaString's buffer handling, parts, search and change. Buffers are shared
// between copies and made private before any write (copy-before-write);
// operations that replace the whole contents take a fresh buffer instead of
// copying the old one (alloc-before-write). A new buffer is always made
// before the old one is released, because the old one may be the source of
// the new contents and another thread may drop its last reference at once.
#include "osal/ka_string.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <locale>
#include <stdexcept>
#include <string>
#include <string_view>

#include "osal/case_mapping.h"
#include "osal/code_page.h"
#include "osal/ka_string_list.h"
#include "osal/string_pool.h"

namespace KaOSAL {
namespace {

// The one shared empty buffer of the process: reference count -1 so that it
// is never counted, freed or written.
struct EmptyBuffer {
  KaStringData header;
  char16_t terminator;
};
constinit EmptyBuffer g_empty = {{-1, 0, 0}, 0};
static_assert(offsetof(EmptyBuffer, terminator) == sizeof(KaStringData));

bool IsEmptyBuffer(const KaStringData* data) { return data == &g_empty.header; }

std::atomic_ref<int32_t> Refs(KaStringData* data) { return std::atomic_ref<int32_t>(data->nRefs); }

// True when nobody else can see the buffer: its only owner, or locked.
bool IsPrivate(KaStringData* data) { return Refs(data).load(std::memory_order_acquire) <= 1; }

void ReleaseData(KaStringData* data) {
  if (IsEmptyBuffer(data)) return;
  // A count of 1 (the last owner) or -1 (locked, so private) frees it.
  if (Refs(data).fetch_sub(1, std::memory_order_acq_rel) <= 1) detail::FreeStringData(data);
}

int TextLength(const char16_t* text) {
  return text == nullptr ? 0 : static_cast<int>(std::char_traits<char16_t>::length(text));
}

void CopyChars(char16_t* to, const char16_t* from, int count) {
  if (count > 0) std::memmove(to, from, static_cast<size_t>(count) * sizeof(char16_t));
}

std::u16string_view Chars(const char16_t* text) {
  return {text, static_cast<size_t>(TextLength(text))};
}

bool InSet(const char16_t* charset, char16_t ch) {
  return ch != 0 && Chars(charset).find(ch) != std::u16string_view::npos;
}

// White space as the runtime's iswspace sees it in Unicode text.
bool IsWhiteSpace(char16_t ch) {
  return (ch >= 0x09 && ch <= 0x0D) || ch == 0x20 || ch == 0x85 || ch == 0xA0 || ch == 0x1680 ||
         (ch >= 0x2000 && ch <= 0x200A) || ch == 0x2028 || ch == 0x2029 || ch == 0x202F ||
         ch == 0x205F || ch == 0x3000;
}

int FoldedCompare(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    const char16_t ca = detail::ToLowerChar(*a);
    const char16_t cb = detail::ToLowerChar(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

bool FoldedEqual(const char16_t* a, const char16_t* b, int count) {
  for (int i = 0; i < count; ++i) {
    if (detail::ToLowerChar(a[i]) != detail::ToLowerChar(b[i])) return false;
  }
  return true;
}

}  // namespace

// ---- Construction and buffers ----

KaString::KaString() { Init(); }

KaString::KaString(const KaString& other) {
  Init();
  KaStringData* data = other.GetData();
  if (IsEmptyBuffer(data)) return;
  if (Refs(data).load(std::memory_order_relaxed) >= 0) {
    Refs(data).fetch_add(1, std::memory_order_relaxed);
    m_pchData = other.m_pchData;
  } else {
    AssignCopy(data->nDataLength, other.m_pchData);  // a locked buffer is never shared
  }
}

KaString::KaString(KaString&& other) noexcept : m_pchData(other.m_pchData) { other.Init(); }

KaString::KaString(const char16_t* text) {
  Init();
  AssignCopy(TextLength(text), text);
}

KaString::KaString(const char16_t* text, int length) {
  Init();
  if (text == nullptr) return;
  AssignCopy(length < 0 ? TextLength(text) : length, text);
}

KaString::KaString(const char* text, unsigned codepage) {
  Init();
  if (text == nullptr) return;
  const std::u16string wide = detail::WidenText(text, std::strlen(text), codepage);
  AssignCopy(static_cast<int>(wide.size()), wide.data());
}

KaString::KaString(char16_t ch, int repeat) {
  Init();
  if (repeat <= 0) return;
  AllocBuffer(repeat);
  std::fill_n(m_pchData, repeat, ch);
}

KaString::~KaString() { ReleaseData(GetData()); }

void KaString::Init() { m_pchData = g_empty.header.data(); }

void KaString::Release() {
  ReleaseData(GetData());
  Init();
}

void KaString::AllocBuffer(int length) {
  m_pchData = length <= 0 ? g_empty.header.data() : detail::AllocStringData(length)->data();
}

void KaString::AssignCopy(int length, const char16_t* text) {
  KaStringData* data = GetData();
  if (length <= 0) {
    if (!IsEmptyBuffer(data) && Refs(data).load(std::memory_order_relaxed) < 0) {
      SetDataLength(0);  // a locked string keeps its buffer
    } else {
      Release();
    }
    return;
  }
  if (!IsEmptyBuffer(data) && IsPrivate(data) && length <= data->nAllocLength) {
    CopyChars(m_pchData, text, length);  // |text| may lie in this very buffer
    SetDataLength(length);
    return;
  }
  KaStringData* fresh = detail::AllocStringData(length);
  CopyChars(fresh->data(), text, length);
  Adopt(fresh);
}

void KaString::ConcatInPlace(int length, const char16_t* text) {
  if (length <= 0) return;
  KaStringData* data = GetData();
  const int old_length = data->nDataLength;
  const int new_length = old_length + length;
  if (!IsEmptyBuffer(data) && IsPrivate(data) && new_length <= data->nAllocLength) {
    CopyChars(m_pchData + old_length, text, length);
    SetDataLength(new_length);
    return;
  }
  KaStringData* fresh = detail::AllocStringData(new_length);
  CopyChars(fresh->data(), m_pchData, old_length);
  CopyChars(fresh->data() + old_length, text, length);
  Adopt(fresh);
}

void KaString::Adopt(KaStringData* fresh) {
  KaStringData* data = GetData();
  // A locked string stays locked on its new buffer until UnlockBuffer.
  if (!IsEmptyBuffer(data) && Refs(data).load(std::memory_order_relaxed) < 0) fresh->nRefs = -1;
  ReleaseData(data);
  m_pchData = fresh->data();
}

void KaString::CopyBeforeWrite() {
  KaStringData* data = GetData();
  if (IsEmptyBuffer(data) || IsPrivate(data)) return;
  KaStringData* fresh = detail::AllocStringData(data->nDataLength);
  CopyChars(fresh->data(), m_pchData, data->nDataLength);
  Adopt(fresh);
}

void KaString::SetDataLength(int length) {
  KaStringData* data = GetData();
  if (IsEmptyBuffer(data)) return;  // its header never changes; its length is 0 already
  data->nDataLength = length;
  m_pchData[length] = 0;
}

KaString& KaString::operator=(const KaString& other) {
  if (m_pchData == other.m_pchData) return *this;
  KaStringData* data = GetData();
  KaStringData* source = other.GetData();
  const bool locked = !IsEmptyBuffer(data) && Refs(data).load(std::memory_order_relaxed) < 0;
  if (locked || (!IsEmptyBuffer(source) && Refs(source).load(std::memory_order_relaxed) < 0)) {
    AssignCopy(source->nDataLength, other.m_pchData);
    return *this;
  }
  if (!IsEmptyBuffer(source)) Refs(source).fetch_add(1, std::memory_order_relaxed);
  ReleaseData(data);
  m_pchData = other.m_pchData;
  return *this;
}

KaString& KaString::operator=(KaString&& other) noexcept {
  if (this == &other) return *this;
  KaStringData* data = GetData();
  if (!IsEmptyBuffer(data) && Refs(data).load(std::memory_order_relaxed) < 0) {
    return *this = static_cast<const KaString&>(other);  // keep the locked buffer
  }
  ReleaseData(data);
  m_pchData = other.m_pchData;
  other.Init();
  return *this;
}

KaString& KaString::operator=(const char16_t* text) {
  AssignCopy(TextLength(text), text);
  return *this;
}

KaString& KaString::operator=(char16_t ch) {
  AssignCopy(1, &ch);
  return *this;
}

KaString& KaString::operator+=(const KaString& other) {
  ConcatInPlace(other.GetLength(), other.m_pchData);
  return *this;
}

KaString& KaString::operator+=(const char16_t* text) {
  ConcatInPlace(TextLength(text), text);
  return *this;
}

KaString& KaString::operator+=(char16_t ch) {
  ConcatInPlace(1, &ch);
  return *this;
}

namespace {

KaString Concat(const char16_t* a, int a_length, const char16_t* b, int b_length) {
  KaString result;
  if (a_length + b_length == 0) return result;
  char16_t* buffer = result.GetBufferSetLength(a_length + b_length);
  CopyChars(buffer, a, a_length);
  CopyChars(buffer + a_length, b, b_length);
  return result;
}

}  // namespace

KaString operator+(const KaString& a, const KaString& b) {
  return Concat(a.c_str(), a.GetLength(), b.c_str(), b.GetLength());
}
KaString operator+(const KaString& a, const char16_t* b) {
  return Concat(a.c_str(), a.GetLength(), b, TextLength(b));
}
KaString operator+(const char16_t* a, const KaString& b) {
  return Concat(a, TextLength(a), b.c_str(), b.GetLength());
}
KaString operator+(const KaString& a, char16_t b) {
  return Concat(a.c_str(), a.GetLength(), &b, 1);
}
KaString operator+(char16_t a, const KaString& b) {
  return Concat(&a, 1, b.c_str(), b.GetLength());
}

char16_t* KaString::GetBuffer(int min_length) {
  min_length = std::max(min_length, 0);
  KaStringData* data = GetData();
  if (IsEmptyBuffer(data) || !IsPrivate(data) || min_length > data->nAllocLength) {
    const int keep = data->nDataLength;
    KaStringData* fresh = detail::AllocStringData(std::max(min_length, keep));
    CopyChars(fresh->data(), m_pchData, keep);
    fresh->nDataLength = keep;
    fresh->data()[keep] = 0;
    Adopt(fresh);
  }
  return m_pchData;
}

char16_t* KaString::GetBufferSetLength(int length) {
  length = std::max(length, 0);
  GetBuffer(length);
  SetDataLength(length);
  return m_pchData;
}

void KaString::ReleaseBuffer(int new_length) {
  CopyBeforeWrite();
  KaStringData* data = GetData();
  if (IsEmptyBuffer(data)) return;
  const int capacity = data->nAllocLength;
  if (new_length < 0) {
    // Measure up to the first zero, never past the buffer.
    new_length = static_cast<int>(std::find(m_pchData, m_pchData + capacity, u'\0') - m_pchData);
  }
  SetDataLength(std::min(new_length, capacity));
}

char16_t* KaString::LockBuffer() {
  char16_t* buffer = GetBuffer(0);
  Refs(GetData()).store(-1, std::memory_order_relaxed);
  return buffer;
}

void KaString::UnlockBuffer() {
  KaStringData* data = GetData();
  if (IsEmptyBuffer(data)) return;
  // Only a locked buffer changes: setting a shared buffer's count to 1 would
  // free it under its other owners.
  int32_t locked = -1;
  Refs(data).compare_exchange_strong(locked, 1, std::memory_order_relaxed);
}

void KaString::Empty() { AssignCopy(0, nullptr); }

void KaString::FreeExtra() {
  KaStringData* data = GetData();
  if (IsEmptyBuffer(data)) return;
  const int length = data->nDataLength;
  const bool locked = Refs(data).load(std::memory_order_relaxed) < 0;
  if (length == 0 && !locked) {
    Release();
    return;
  }
  if (detail::StringCapacityFor(length) >= data->nAllocLength) return;
  KaStringData* fresh = detail::AllocStringData(length);
  CopyChars(fresh->data(), m_pchData, length);
  Adopt(fresh);
}

// ---- Comparison ----

int KaString::Compare(const char16_t* text) const {
  const int order = Chars(m_pchData).compare(Chars(text));
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int KaString::CompareNoCase(const char16_t* text) const {
  return FoldedCompare(m_pchData, text == nullptr ? g_empty.header.data() : text);
}

namespace {

// The locale's collation: the user's locale from the environment, or the
// classic one (code point order) where that locale is not installed. The facet
// is only read, so collating is safe on every thread.
const std::collate<wchar_t>& Collator() {
  static const std::locale locale = [] {
    try {
      return std::locale("");
    } catch (const std::runtime_error&) {
      return std::locale::classic();
    }
  }();
  return std::use_facet<std::collate<wchar_t>>(locale);
}

// UTF-16 as the runtime's wide text (UTF-32), optionally folded to lower case.
std::wstring CollationText(const char16_t* text, bool fold) {
  std::wstring wide;
  for (const char16_t* p = text; p != nullptr && *p != 0; ++p) {
    char32_t ch = fold ? detail::ToLowerChar(*p) : *p;
    if (ch >= 0xD800 && ch <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      ch = 0x10000 + ((ch - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    }
    wide += static_cast<wchar_t>(ch);
  }
  return wide;
}

int Collated(const char16_t* a, const char16_t* b, bool fold) {
  const std::wstring left = CollationText(a, fold);
  const std::wstring right = CollationText(b, fold);
  const int order = Collator().compare(left.data(), left.data() + left.size(), right.data(),
                                       right.data() + right.size());
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

int KaString::Collate(const char16_t* text) const { return Collated(m_pchData, text, false); }

int KaString::CollateNoCase(const char16_t* text) const { return Collated(m_pchData, text, true); }

bool KaString::operator==(const KaString& other) const {
  if (m_pchData == other.m_pchData) return true;
  return GetLength() == other.GetLength() &&
         std::memcmp(m_pchData, other.m_pchData,
                     static_cast<size_t>(GetLength()) * sizeof(char16_t)) == 0;
}

bool KaString::operator==(const char16_t* text) const { return Compare(text) == 0; }

// ---- Access ----

char16_t KaString::GetAt(int index) const {
  return (index >= 0 && index < GetLength()) ? m_pchData[index] : u'\0';
}

void KaString::SetAt(int index, char16_t ch) {
  if (index < 0 || index >= GetLength()) return;
  CopyBeforeWrite();
  m_pchData[index] = ch;
}

char16_t KaString::GetCharAt(int index) const { return GetAt(index); }

int KaString::GetCharCount() const { return TextLength(m_pchData); }

// ---- Parts ----

KaString KaString::Left(int count) const { return Mid(0, count); }

KaString KaString::Mid(int first) const { return Mid(first, GetLength()); }

KaString KaString::Mid(int first, int count) const {
  const int length = GetLength();
  first = std::clamp(first, 0, length);
  count = std::clamp(count, 0, length - first);
  if (first == 0 && count == length) return *this;
  return KaString(m_pchData + first, count);
}

KaString KaString::Right(int count) const {
  count = std::clamp(count, 0, GetLength());
  return Mid(GetLength() - count, count);
}

KaString KaString::SpanIncluding(const char16_t* charset) const {
  int count = 0;
  while (count < GetLength() && InSet(charset, m_pchData[count])) ++count;
  return Left(count);
}

KaString KaString::SpanExcluding(const char16_t* charset) const {
  int count = 0;
  while (count < GetLength() && !InSet(charset, m_pchData[count])) ++count;
  return Left(count);
}

bool KaString::StartsWith(const char16_t* text) const {
  return std::u16string_view(m_pchData, GetLength()).starts_with(Chars(text));
}

bool KaString::EndsWith(const char16_t* text) const {
  return std::u16string_view(m_pchData, GetLength()).ends_with(Chars(text));
}

// ---- Search ----

int KaString::Find(char16_t ch, int start) const {
  start = std::max(start, 0);
  if (start >= GetLength()) return -1;
  const char16_t* end = m_pchData + GetLength();
  const char16_t* found = std::find(static_cast<const char16_t*>(m_pchData) + start, end, ch);
  return found == end ? -1 : static_cast<int>(found - m_pchData);
}

int KaString::Find(const char16_t* text, int start) const {
  start = std::max(start, 0);
  if (text == nullptr || start >= GetLength()) return -1;
  const size_t found = std::u16string_view(m_pchData, GetLength()).find(Chars(text), start);
  return found == std::u16string_view::npos ? -1 : static_cast<int>(found);
}

int KaString::FindNoCase(const char16_t* text, int start) const {
  start = std::max(start, 0);
  const int text_length = TextLength(text);
  if (text == nullptr || start >= GetLength()) return -1;
  for (int i = start; i + text_length <= GetLength(); ++i) {
    if (FoldedEqual(m_pchData + i, text, text_length)) return i;
  }
  return -1;
}

int KaString::FindOneOf(const char16_t* charset) const {
  for (int i = 0; i < GetLength(); ++i) {
    if (InSet(charset, m_pchData[i])) return i;
  }
  return -1;
}

int KaString::ReverseFind(char16_t ch) const {
  for (int i = GetLength() - 1; i >= 0; --i) {
    if (m_pchData[i] == ch) return i;
  }
  return -1;
}

int KaString::ReverseFindOneOf(const char16_t* charset) const {
  for (int i = GetLength() - 1; i >= 0; --i) {
    if (InSet(charset, m_pchData[i])) return i;
  }
  return -1;
}

// ---- Change ----

int KaString::InsertText(int index, const char16_t* text, int length) {
  const int old_length = GetLength();
  if (length <= 0) return old_length;
  index = std::clamp(index, 0, old_length);
  KaStringData* fresh = detail::AllocStringData(old_length + length);
  CopyChars(fresh->data(), m_pchData, index);
  CopyChars(fresh->data() + index, text, length);
  CopyChars(fresh->data() + index + length, m_pchData + index, old_length - index);
  Adopt(fresh);
  return GetLength();
}

int KaString::Insert(int index, char16_t ch) { return InsertText(index, &ch, 1); }

int KaString::Insert(int index, const char16_t* text) {
  return InsertText(index, text, TextLength(text));
}

int KaString::Delete(int index, int count) {
  const int length = GetLength();
  index = std::max(index, 0);
  if (count <= 0 || index >= length) return length;
  count = std::min(count, length - index);
  CopyBeforeWrite();
  CopyChars(m_pchData + index, m_pchData + index + count, length - index - count);
  SetDataLength(length - count);
  return GetLength();
}

int KaString::Remove(char16_t ch) {
  if (Find(ch) < 0) return 0;
  CopyBeforeWrite();
  char16_t* end = std::remove(m_pchData, m_pchData + GetLength(), ch);
  const int removed = static_cast<int>(m_pchData + GetLength() - end);
  SetDataLength(GetLength() - removed);
  return removed;
}

int KaString::Replace(char16_t old_ch, char16_t new_ch) {
  if (old_ch == new_ch || Find(old_ch) < 0) return 0;
  CopyBeforeWrite();
  int count = 0;
  for (int i = 0; i < GetLength(); ++i) {
    if (m_pchData[i] == old_ch) {
      m_pchData[i] = new_ch;
      ++count;
    }
  }
  return count;
}

int KaString::Replace(const char16_t* old_text, const char16_t* new_text) {
  const int old_length = TextLength(old_text);
  if (old_length == 0) return 0;
  const std::u16string_view view(m_pchData, GetLength());
  const std::u16string_view old_view(old_text, old_length);
  int count = 0;
  for (size_t at = view.find(old_view); at != view.npos;
       at = view.find(old_view, at + old_length)) {
    ++count;
  }
  if (count == 0) return 0;
  const int new_length = TextLength(new_text);
  const int result_length = GetLength() + count * (new_length - old_length);
  if (result_length == 0) {
    Empty();
    return count;
  }
  KaString result;
  char16_t* out = result.GetBufferSetLength(result_length);
  size_t from = 0;
  for (size_t at = view.find(old_view); at != view.npos;
       at = view.find(old_view, at + old_length)) {
    CopyChars(out, m_pchData + from, static_cast<int>(at - from));
    out += at - from;
    CopyChars(out, new_text, new_length);
    out += new_length;
    from = at + old_length;
  }
  CopyChars(out, m_pchData + from, static_cast<int>(view.size() - from));
  *this = std::move(result);
  return count;
}

void KaString::MakeUpper() {
  CopyBeforeWrite();
  std::transform(m_pchData, m_pchData + GetLength(), m_pchData, detail::ToUpperChar);
}

void KaString::MakeLower() {
  CopyBeforeWrite();
  std::transform(m_pchData, m_pchData + GetLength(), m_pchData, detail::ToLowerChar);
}

void KaString::MakeReverse() {
  CopyBeforeWrite();
  char16_t* end = m_pchData + GetLength();
  std::reverse(m_pchData, end);
  // Surrogate pairs were reversed too; put each back in order.
  for (char16_t* p = m_pchData; p + 1 < end; ++p) {
    if (p[0] >= 0xDC00 && p[0] <= 0xDFFF && p[1] >= 0xD800 && p[1] <= 0xDBFF) {
      std::swap(p[0], p[1]);
      ++p;
    }
  }
}

void KaString::TrimBounds(int first, int end) {
  if (first == 0 && end == GetLength()) return;
  if (first >= end) {
    Empty();
    return;
  }
  CopyBeforeWrite();
  CopyChars(m_pchData, m_pchData + first, end - first);
  SetDataLength(end - first);
}

namespace {

template <typename Pred>
int FirstKept(const char16_t* text, int length, Pred trimmed) {
  int first = 0;
  while (first < length && trimmed(text[first])) ++first;
  return first;
}

template <typename Pred>
int EndKept(const char16_t* text, int length, Pred trimmed) {
  int end = length;
  while (end > 0 && trimmed(text[end - 1])) --end;
  return end;
}

}  // namespace

void KaString::Trim() {
  TrimRight();
  TrimLeft();
}
void KaString::Trim(char16_t ch) {
  TrimRight(ch);
  TrimLeft(ch);
}
void KaString::Trim(const char16_t* charset) {
  TrimRight(charset);
  TrimLeft(charset);
}

void KaString::TrimLeft() {
  TrimBounds(FirstKept(m_pchData, GetLength(), IsWhiteSpace), GetLength());
}
void KaString::TrimLeft(char16_t ch) {
  TrimBounds(FirstKept(m_pchData, GetLength(), [ch](char16_t c) { return c == ch; }), GetLength());
}
void KaString::TrimLeft(const char16_t* charset) {
  TrimBounds(FirstKept(m_pchData, GetLength(), [charset](char16_t c) { return InSet(charset, c); }),
             GetLength());
}

void KaString::TrimRight() { TrimBounds(0, EndKept(m_pchData, GetLength(), IsWhiteSpace)); }
void KaString::TrimRight(char16_t ch) {
  TrimBounds(0, EndKept(m_pchData, GetLength(), [ch](char16_t c) { return c == ch; }));
}
void KaString::TrimRight(const char16_t* charset) {
  TrimBounds(0,
             EndKept(m_pchData, GetLength(), [charset](char16_t c) { return InSet(charset, c); }));
}

// A leading separator gives no empty first piece; two adjacent separators
// later in the text give an empty piece; text after the last separator is
// added when it is not empty. The pieces are appended to |list|.
bool KaString::Tokenize(const char16_t* separator, KaStringList& list) const {
  const int separator_length = TextLength(separator);
  if (separator_length == 0) {
    if (!IsEmpty()) list.Add(*this);
    return true;
  }
  int from = 0;
  for (int at = Find(separator); at >= 0; at = Find(separator, from)) {
    if (at > 0 || from > 0) list.Add(Mid(from, at - from));
    from = at + separator_length;
  }
  if (from < GetLength()) list.Add(Mid(from));
  return true;
}

}  // namespace KaOSAL
