#include "platform/code_page_converter.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

namespace wardex::platform {
namespace {

constexpr char kUtf16[] = "UTF-16LE";
constexpr char16_t kReplacement = 0xFFFD;

// Returns the converter name of a Windows code page number: the table's
// exceptions, else "CP" and the number (CP1252, CP437, CP932...).
std::string ConverterName(unsigned codepage) {
  struct Row {
    unsigned codepage;
    const char* name;
  };
  static constexpr Row kNames[] = {
      {20127, "ASCII"},       {20866, "KOI8-R"},      {21866, "KOI8-U"},      {28591, "ISO-8859-1"},
      {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},  {28595, "ISO-8859-5"},
      {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},  {28599, "ISO-8859-9"},
      {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"}, {50220, "ISO-2022-JP"}, {51932, "EUC-JP"},
      {51949, "EUC-KR"},      {54936, "GB18030"},
  };
  for (const Row& row : kNames) {
    if (row.codepage == codepage) return row.name;
  }
  return "CP" + std::to_string(codepage);
}

// Owns an iconv descriptor.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (valid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of |input| and appends it to |output|; at a sequence it
  // cannot convert it appends |replacement| and skips |skip(input)| bytes.
  template <typename Skip>
  void Convert(std::string_view input, std::string& output, std::string_view replacement,
               Skip skip) {
    char* in = const_cast<char*>(input.data());
    size_t in_left = input.size();
    char buffer[1024];
    while (in_left > 0) {
      char* out = buffer;
      size_t out_left = sizeof(buffer);
      const size_t result = iconv(handle_, &in, &in_left, &out, &out_left);
      output.append(buffer, static_cast<size_t>(out - buffer));
      if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
      // EILSEQ, or EINVAL for a sequence cut by the end of the text.
      output.append(replacement);
      const size_t skipped = std::min(in_left, skip(std::string_view(in, in_left)));
      in += skipped;
      in_left -= skipped;
    }
    char* out = buffer;
    size_t out_left = sizeof(buffer);
    iconv(handle_, nullptr, nullptr, &out, &out_left);  // the shift state's end, if any
    output.append(buffer, static_cast<size_t>(out - buffer));
  }

 private:
  iconv_t handle_;
};

}  // namespace

std::optional<std::u16string> WidenFromCodePage(const char* text, size_t length,
                                                unsigned codepage) {
  Converter converter(kUtf16, ConverterName(codepage));
  if (!converter.valid()) return std::nullopt;
  std::string utf16;
  const char replacement[] = {static_cast<char>(kReplacement & 0xFF),
                              static_cast<char>(kReplacement >> 8)};
  converter.Convert(std::string_view(text, length), utf16, std::string_view(replacement, 2),
                    [](std::string_view) { return size_t{1}; });
  std::u16string wide(utf16.size() / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i) {
    wide[i] = static_cast<char16_t>(static_cast<unsigned char>(utf16[2 * i]) |
                                    static_cast<unsigned char>(utf16[2 * i + 1]) << 8);
  }
  return wide;
}

std::optional<std::string> NarrowToCodePage(const char16_t* text, size_t length,
                                            unsigned codepage) {
  Converter converter(ConverterName(codepage), kUtf16);
  if (!converter.valid()) return std::nullopt;
  std::string utf16(length * 2, '\0');
  for (size_t i = 0; i < length; ++i) {
    utf16[2 * i] = static_cast<char>(text[i] & 0xFF);
    utf16[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  std::string narrow;
  // One character is one unit, or two for a surrogate pair.
  converter.Convert(utf16, narrow, "?", [](std::string_view rest) {
    const auto high = static_cast<unsigned char>(rest.size() > 1 ? rest[1] : 0);
    return rest.size() >= 4 && high >= 0xD8 && high <= 0xDB ? size_t{4} : size_t{2};
  });
  return narrow;
}

}  // namespace wardex::platform
