#include "online/news_item_rules.h"

#include <cstring>

namespace wardex {
namespace {

using KaOSAL::KaString;

constexpr int kMaxIdLength = 64;
constexpr int kEndDateLength = 10;
constexpr int kMaxLinkLength = 2048;
// A news picture is shown in a notification or a small window; a header that
// claims more would have its reader decode gigabytes.
constexpr uint32_t kMaxPictureSide = 4096;

bool IsAsciiAlnum(char16_t ch) {
  return (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') || (ch >= u'0' && ch <= u'9');
}

int HexDigit(char16_t ch) {
  if (ch >= u'0' && ch <= u'9') return ch - u'0';
  if (ch >= u'a' && ch <= u'f') return ch - u'a' + 10;
  if (ch >= u'A' && ch <= u'F') return ch - u'A' + 10;
  return -1;
}

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

NewsItemCheck CheckNewsItem(SimpleXMLElement& item) {
  if (item.FindChild(u"id") == nullptr || item.FindChild(u"title") == nullptr ||
      item.FindChild(u"enddate") == nullptr) {
    return NewsItemCheck::kMissingField;
  }
  if (item.GetChildValue(u"enddate").GetLength() != kEndDateLength) {
    return NewsItemCheck::kBadEndDate;
  }
  if (!IsSafeNewsId(item.GetChildValue(u"id"))) return NewsItemCheck::kUnsafeId;
  return NewsItemCheck::kValid;
}

bool IsSafeNewsId(const KaString& id) {
  const int length = id.GetLength();
  if (length == 0 || length > kMaxIdLength || id[0] == u'.') return false;
  for (int i = 0; i < length; ++i) {
    const char16_t ch = id[i];
    if (!IsAsciiAlnum(ch) && ch != u'_' && ch != u'-' && ch != u'.') return false;
  }
  return true;
}

bool ParseNewsColour(const KaString& text, uint32_t* colour) {
  if (text.GetLength() != 6) return false;
  uint32_t value = 0;
  for (int pair = 0; pair < 3; ++pair) {
    const int high = HexDigit(text[pair * 2]);
    const int low = HexDigit(text[pair * 2 + 1]);
    if (high < 0 || low < 0) return false;
    value |= static_cast<uint32_t>(high * 16 + low) << (8 * pair);
  }
  *colour = value;
  return true;
}

bool NewsCommandLine(const KaString& command, KaString* line) {
  line->Empty();
  KaString lower = command;
  lower.MakeLower();
  if (lower == u"start") {
    *line = u"/scanall";
    return true;
  }
  if (!lower.StartsWith(u"scan")) return false;
  lower.Replace(u"scan", u"/scan:");
  lower.Remove(u' ');
  lower.Remove(u'\t');
  for (int i = 0; i < lower.GetLength(); ++i) {
    const char16_t ch = lower[i];
    if (ch == 0 || ch > 0x7F) return false;
    if (!IsAsciiAlnum(ch) && std::strchr("/:._,-", static_cast<char>(ch)) == nullptr) return false;
  }
  *line = u"\"" + lower + u"\"";
  return true;
}

bool IsHttpsLink(const KaString& link) {
  constexpr int kSchemeLength = 8;  // "https://"
  if (link.GetLength() > kMaxLinkLength || link.GetLength() <= kSchemeLength) return false;
  if (link.Left(kSchemeLength).CompareNoCase(u"https://") != 0) return false;
  if (link[kSchemeLength] == u'/' || link[kSchemeLength] == u'?' || link[kSchemeLength] == u'#') {
    return false;
  }
  for (int i = 0; i < link.GetLength(); ++i) {
    const char16_t ch = link[i];
    if (ch <= 0x20 || ch == 0x7F || ch == u'"' || ch == u'<' || ch == u'>' || ch == u'\\') {
      return false;
    }
  }
  return true;
}

KaString CompleteNewsLink(const KaString& url, const KaString& computer_id, const KaString& phash) {
  KaString link = url;
  link += url.Find(u'?') >= 0 ? u"&" : u"?";
  link += u"ClientId=";
  link += computer_id;
  if (!phash.IsEmpty()) link += u"&phash=" + phash;
  return link;
}

bool LooksLikePng(const std::string& bytes) {
  static constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
  constexpr size_t kSignatureLength = 8;
  constexpr size_t kHeaderEnd = kSignatureLength + 8 + 13;  // length, type, header data
  if (bytes.size() < kHeaderEnd) return false;
  if (bytes.compare(0, kSignatureLength, kSignature, kSignatureLength) != 0) return false;
  if (BigEndian32(bytes, 8) != 13 || bytes.compare(12, 4, "IHDR") != 0) return false;
  const uint32_t width = BigEndian32(bytes, 16);
  const uint32_t height = BigEndian32(bytes, 20);
  return width != 0 && height != 0 && width <= kMaxPictureSide && height <= kMaxPictureSide;
}

}  // namespace wardex
