#include "osal/ka_base_string.h"

#include <algorithm>
#include <string>

#include "osal/code_page.h"

namespace KaOSAL {
namespace {

// The owned, zero-terminated buffer behind KaAString and KaWString. |empty|
// is the class's shared empty text, which is never written or freed.
template <typename Char>
struct TextBuffer {
  Char*& text;
  int& length;
  int& capacity;
  Char* empty;

  void Free() {
    if (text != empty) delete[] text;
    text = empty;
    length = 0;
    capacity = 0;
  }

  // A copy of |count| characters of |from|, which may lie in the old buffer.
  void Assign(const Char* from, int count) {
    if (from == nullptr || count <= 0) {
      Free();
      return;
    }
    Char* fresh = new Char[static_cast<size_t>(count) + 1];
    std::copy(from, from + count, fresh);
    fresh[count] = 0;
    Free();
    text = fresh;
    length = count;
    capacity = count;
  }

  Char* Reserve(int min_length) {
    min_length = std::max(min_length, 0);
    if (text != empty && min_length <= capacity) return text;
    const int size = std::max(min_length, length);
    Char* fresh = new Char[static_cast<size_t>(size) + 1];
    std::copy(text, text + length + 1, fresh);
    const int kept = length;
    Free();
    text = fresh;
    length = kept;
    capacity = size;
    return text;
  }

  // -1 measures up to the first zero, never past the buffer.
  void SetLength(int new_length) {
    if (text == empty) return;
    if (new_length < 0)
      new_length = static_cast<int>(std::find(text, text + capacity, Char{0}) - text);
    length = std::min(new_length, capacity);
    text[length] = 0;
  }
};

template <typename Char>
int TextLength(const Char* text) {
  return text == nullptr ? 0 : static_cast<int>(std::char_traits<Char>::length(text));
}

}  // namespace

KaBaseString::~KaBaseString() = default;

// ---- KaAString ----

char KaAString::s_empty[1] = {0};

KaAString::KaAString() = default;

KaAString::KaAString(const char16_t* text, unsigned codepage) : codepage_(codepage) {
  const std::string narrow =
      detail::NarrowText(text, static_cast<size_t>(TextLength(text)), codepage);
  Assign(narrow.data(), static_cast<int>(narrow.size()));
}

KaAString::KaAString(const char* text, unsigned source_codepage, unsigned target_codepage)
    : codepage_(target_codepage) {
  const int length = TextLength(text);
  if (source_codepage == target_codepage) {
    Assign(text, length);
    return;
  }
  const std::u16string wide = detail::WidenText(text, static_cast<size_t>(length), source_codepage);
  const std::string narrow = detail::NarrowText(wide.data(), wide.size(), target_codepage);
  Assign(narrow.data(), static_cast<int>(narrow.size()));
}

KaAString::KaAString(const KaAString& other) : KaBaseString(), codepage_(other.codepage_) {
  Assign(other.text_, other.length_);
}

KaAString::KaAString(const KaWString& other, unsigned codepage)
    : KaAString(other.c_str(), codepage) {}

KaAString& KaAString::operator=(const KaAString& other) {
  if (this != &other) {
    Assign(other.text_, other.length_);
    codepage_ = other.codepage_;
  }
  return *this;
}

KaAString::~KaAString() { TextBuffer<char>{text_, length_, capacity_, s_empty}.Free(); }

void KaAString::Assign(const char* text, int length) {
  TextBuffer<char>{text_, length_, capacity_, s_empty}.Assign(text, length);
}

char* KaAString::GetBuffer(int min_length) {
  return TextBuffer<char>{text_, length_, capacity_, s_empty}.Reserve(min_length);
}

void KaAString::ReleaseBuffer(int new_length) {
  TextBuffer<char>{text_, length_, capacity_, s_empty}.SetLength(new_length);
}

// ---- KaWString ----

char16_t KaWString::s_empty[1] = {0};

KaWString::KaWString() = default;

KaWString::KaWString(const char* text, unsigned codepage) {
  const std::u16string wide =
      detail::WidenText(text, static_cast<size_t>(TextLength(text)), codepage);
  Assign(wide.data(), static_cast<int>(wide.size()));
}

KaWString::KaWString(const char16_t* text) { Assign(text, TextLength(text)); }

KaWString::KaWString(const KaAString& other) {
  const std::u16string wide =
      detail::WidenText(other.c_str(), static_cast<size_t>(other.GetLength()), other.GetCodepage());
  Assign(wide.data(), static_cast<int>(wide.size()));
}

KaWString::KaWString(const KaWString& other) : KaBaseString() {
  Assign(other.text_, other.length_);
}

KaWString& KaWString::operator=(const KaWString& other) {
  if (this != &other) Assign(other.text_, other.length_);
  return *this;
}

KaWString::~KaWString() { TextBuffer<char16_t>{text_, length_, capacity_, s_empty}.Free(); }

void KaWString::Assign(const char16_t* text, int length) {
  TextBuffer<char16_t>{text_, length_, capacity_, s_empty}.Assign(text, length);
}

char16_t* KaWString::GetBuffer(int min_length) {
  return TextBuffer<char16_t>{text_, length_, capacity_, s_empty}.Reserve(min_length);
}

void KaWString::ReleaseBuffer(int new_length) {
  TextBuffer<char16_t>{text_, length_, capacity_, s_empty}.SetLength(new_length);
}

}  // namespace KaOSAL
