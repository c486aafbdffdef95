// KaString: the reference-counted UTF-16 string that the whole system passes
// texts, settings, paths and messages in.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "osal/osal_export.h"

namespace KaOSAL {

class KaStringList;

// Header in front of every string buffer; the characters follow it and are
// always terminated by a zero character.
struct KaStringData {
  int32_t nRefs;         // -1 while locked; the shared empty buffer never changes
  int32_t nDataLength;   // in characters, without the terminator
  int32_t nAllocLength;  // capacity in characters, without the terminator
  char16_t* data() { return reinterpret_cast<char16_t*>(this + 1); }
};

// Code pages for 8-bit text. 0 is the system page (UTF-8 on Linux).
enum KaCodepages : unsigned {
  KA_CP_ACP = 0,
  KA_CP_UTF8 = 65001,
  KA_CP_7BIT = 65002,  // characters from 128 up become '?'
};

class KAOSAL_API KaString {
 public:
  KaString();
  KaString(const KaString& other);
  KaString(KaString&& other) noexcept;
  KaString(const char16_t* text);  // NOLINT: implicit, as the wide C string it stands for
  KaString(const char16_t* text, int length);
  KaString(const char* text, unsigned codepage = KA_CP_ACP);
  KaString(char16_t ch, int repeat = 1);
  ~KaString();

  KaString& operator=(const KaString& other);
  KaString& operator=(KaString&& other) noexcept;
  KaString& operator=(const char16_t* text);
  KaString& operator=(char16_t ch);
  KaString& operator+=(const KaString& other);
  KaString& operator+=(const char16_t* text);
  KaString& operator+=(char16_t ch);

  friend KAOSAL_API KaString operator+(const KaString& a, const KaString& b);
  friend KAOSAL_API KaString operator+(const KaString& a, const char16_t* b);
  friend KAOSAL_API KaString operator+(const char16_t* a, const KaString& b);
  friend KAOSAL_API KaString operator+(const KaString& a, char16_t b);
  friend KAOSAL_API KaString operator+(char16_t a, const KaString& b);

  // Compare and the operators compare code units (ordinal); Collate uses the
  // user's locale.
  int Compare(const char16_t* text) const;
  int CompareNoCase(const char16_t* text) const;
  int Collate(const char16_t* text) const;
  int CollateNoCase(const char16_t* text) const;
  bool operator==(const KaString& other) const;
  bool operator==(const char16_t* text) const;
  bool operator!=(const KaString& other) const { return !(*this == other); }
  bool operator!=(const char16_t* text) const { return !(*this == text); }
  bool operator<(const KaString& other) const { return Compare(other) < 0; }
  bool operator<(const char16_t* text) const { return Compare(text) < 0; }
  bool operator>(const KaString& other) const { return Compare(other) > 0; }
  bool operator>(const char16_t* text) const { return Compare(text) > 0; }
  bool operator<=(const KaString& other) const { return Compare(other) <= 0; }
  bool operator<=(const char16_t* text) const { return Compare(text) <= 0; }
  bool operator>=(const KaString& other) const { return Compare(other) >= 0; }
  bool operator>=(const char16_t* text) const { return Compare(text) >= 0; }

  // Access.
  int GetLength() const { return GetData()->nDataLength; }
  bool IsEmpty() const { return GetLength() == 0; }
  char16_t GetAt(int index) const;
  char16_t operator[](int index) const { return GetAt(index); }
  void SetAt(int index, char16_t ch);
  char16_t GetCharAt(int index) const;  // 0 for an empty string or an index out of range
  int GetCharCount() const;             // characters up to the first zero
  operator const char16_t*() const { return m_pchData; }  // NOLINT: as the framework's string
  const char16_t* c_str() const { return m_pchData; }

  // Parts.
  KaString Left(int count) const;
  KaString Mid(int first) const;
  KaString Mid(int first, int count) const;
  KaString Right(int count) const;
  KaString SpanIncluding(const char16_t* charset) const;
  KaString SpanExcluding(const char16_t* charset) const;
  bool StartsWith(const char16_t* text) const;
  bool EndsWith(const char16_t* text) const;

  // Search; -1 when nothing is found.
  int Find(char16_t ch, int start = 0) const;
  int Find(const char16_t* text, int start = 0) const;
  int FindNoCase(const char16_t* text, int start = 0) const;
  int FindOneOf(const char16_t* charset) const;
  int ReverseFind(char16_t ch) const;
  int ReverseFindOneOf(const char16_t* charset) const;

  // Change.
  int Insert(int index, char16_t ch);
  int Insert(int index, const char16_t* text);
  int Delete(int index, int count = 1);
  int Remove(char16_t ch);
  int Replace(char16_t old_ch, char16_t new_ch);
  int Replace(const char16_t* old_text, const char16_t* new_text);
  void MakeUpper();
  void MakeLower();
  void MakeReverse();
  void Trim();
  void Trim(char16_t ch);
  void Trim(const char16_t* charset);
  void TrimLeft();
  void TrimLeft(char16_t ch);
  void TrimLeft(const char16_t* charset);
  void TrimRight();
  void TrimRight(char16_t ch);
  void TrimRight(const char16_t* charset);
  void Empty();
  void FreeExtra();

  // Numbers: the runtime's conversions; text that is not a number gives 0.
  int ToInt(int base = 10) const;
  unsigned ToUInt(int base = 10) const;
  int64_t ToInt64() const;
  float ToFloat() const;
  double ToDouble() const;
  static KaString FromInt(int value, int base = 10);
  static KaString FromUInt(unsigned value, int base = 10);
  static KaString FromInt64(int64_t value);
  static KaString FromFloat(float value);
  static KaString FromDouble(double value);

  // Formatting, with the Windows wide-format rules (see osal/wide_format.h).
  void Format(const char16_t* format, ...);
  void FormatV(const char16_t* format, va_list args);
  // Message templates with %1..%99 inserts; throws std::bad_alloc when no text results.
  void FormatMessage(const char16_t* format, ...);
  void FormatMessage(unsigned resource_id, ...);
  bool FormatErrorCode(uint32_t code);  // false when the platform has no text for it
  bool LoadString(unsigned resource_id);

  // Raw buffers.
  char16_t* GetBuffer(int min_length);
  char16_t* GetBufferSetLength(int length);
  void ReleaseBuffer(int new_length = -1);
  char16_t* LockBuffer();
  void UnlockBuffer();

  // Splits at every occurrence of the separator; see the rules in ka_string.cc.
  bool Tokenize(const char16_t* separator, KaStringList& list) const;

  KaStringData* GetData() const { return reinterpret_cast<KaStringData*>(m_pchData) - 1; }

 protected:
  void Init();
  void Release();

 private:
  void AllocBuffer(int length);
  void Adopt(KaStringData* fresh);
  void AssignCopy(int length, const char16_t* text);
  void ConcatInPlace(int length, const char16_t* text);
  void CopyBeforeWrite();
  // False, and the string unchanged, when no text results.
  bool FormatMessageV(const char16_t* format, va_list args);
  void SetDataLength(int length);
  void TrimBounds(int first, int end);
  int InsertText(int index, const char16_t* text, int length);

  char16_t* m_pchData;
};

}  // namespace KaOSAL
