// KaAString and KaWString: owned 8-bit and wide copies of a text, converted
// between code pages through wide text.
#pragma once

#include "osal/ka_string.h"

namespace KaOSAL {

class KAOSAL_API KaBaseString {
 public:
  virtual ~KaBaseString();
  bool IsEmpty() const { return GetLength() == 0; }
  virtual int GetLength() const = 0;
};

class KaWString;

class KAOSAL_API KaAString : public KaBaseString {
 public:
  KaAString();
  KaAString(const char16_t* text, unsigned codepage = KA_CP_ACP);
  // Re-encodes through wide text when the two pages differ, copies otherwise.
  KaAString(const char* text, unsigned source_codepage, unsigned target_codepage);
  KaAString(const KaAString& other);
  KaAString(const KaWString& other, unsigned codepage = KA_CP_ACP);
  KaAString& operator=(const KaAString& other);
  ~KaAString() override;

  operator const char*() const { return text_; }  // NOLINT: a C string
  const char* c_str() const { return text_; }
  char* GetBuffer(int min_length);
  void ReleaseBuffer(int new_length = -1);
  int GetLength() const override { return length_; }
  unsigned GetCodepage() const { return codepage_; }

 private:
  void Assign(const char* text, int length);

  static char s_empty[1];
  char* text_ = s_empty;
  int length_ = 0;
  int capacity_ = 0;  // characters the owned buffer holds before its terminator
  unsigned codepage_ = KA_CP_ACP;
};

class KAOSAL_API KaWString : public KaBaseString {
 public:
  KaWString();
  KaWString(const char* text, unsigned codepage = KA_CP_ACP);
  KaWString(const char16_t* text);    // NOLINT
  KaWString(const KaAString& other);  // NOLINT
  KaWString(const KaWString& other);
  KaWString& operator=(const KaWString& other);
  ~KaWString() override;

  operator const char16_t*() const { return text_; }  // NOLINT
  const char16_t* c_str() const { return text_; }
  char16_t* GetBuffer(int min_length);
  void ReleaseBuffer(int new_length = -1);
  int GetLength() const override { return length_; }

 private:
  void Assign(const char16_t* text, int length);

  static char16_t s_empty[1];
  char16_t* text_ = s_empty;
  int length_ = 0;
  int capacity_ = 0;  // characters the owned buffer holds before its terminator
};

}  // namespace KaOSAL
