#include "online/xml_text.h"

#include "osal/wide_format.h"

namespace wardex {
namespace {

constexpr char16_t kLineBreakMark[] = u"#_#lbr#_#";

struct Entity {
  char character;
  std::string_view name;
};
// The escaping order; reading back replaces "&amp;" last (see FromXmlStoredForm).
constexpr Entity kEntities[] = {
    {'&', "&amp;"}, {'"', "&quot;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'\'', "&apos;"},
};

}  // namespace

std::string EscapeXmlEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    std::string_view entity;
    for (const Entity& e : kEntities) {
      if (e.character == c) entity = e.name;
    }
    if (entity.empty()) {
      out += c;
    } else {
      out += entity;
    }
  }
  return out;
}

std::string ToXmlStoredForm(const KaOSAL::KaString& text) {
  KaOSAL::KaString marked = text;
  marked.Replace(u"\n", kLineBreakMark);
  return EscapeXmlEntities(KaOSAL::ToUtf8(marked.c_str(), static_cast<size_t>(marked.GetLength())));
}

KaOSAL::KaString FromXmlStoredForm(std::string_view stored) {
  const std::u16string wide = KaOSAL::FromUtf8(stored.data(), stored.size());
  KaOSAL::KaString text(wide.c_str(), static_cast<int>(wide.size()));
  // "&amp;" goes last: replaced before "&apos;", the text "&apos;" (stored
  // as "&amp;apos;") would come back as an apostrophe.
  text.Replace(u"&quot;", u"\"");
  text.Replace(u"&lt;", u"<");
  text.Replace(u"&gt;", u">");
  text.Replace(u"&apos;", u"'");
  text.Replace(u"&amp;", u"&");
  text.Replace(kLineBreakMark, u"\n");
  return text;
}

}  // namespace wardex
