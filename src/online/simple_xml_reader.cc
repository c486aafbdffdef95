// Reading follows the writer's shape: the element's name comes from the last
// tag of its text (its closing tag), its opening tag is the first "<name",
// and its content runs between the two. Content without "<" is the value;
// otherwise it is a list of child elements, each ending at the closing tag
// that balances its opening tag, and each read the same way from its own
// part of the text. Parts are views into one prepared copy, so reading
// copies no text but the values it keeps.
#include "online/simple_xml_reader.h"

#include <algorithm>

#include "online/simple_xml_element.h"
#include "online/xml_text.h"

namespace wardex {
namespace {

constexpr std::string_view kCdataOpen = "<![CDATA[";
constexpr std::string_view kCdataClose = "]]>";

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool IsBlank(char c) { return c == ' '; }

// Reads the attributes of an opening tag: name, "=", a double-quoted value,
// separated by blanks. Reading stops at the first part that does not fit.
void ReadAttributes(std::string_view part, SimpleXMLElement& element) {
  size_t pos = 0;
  for (;;) {
    while (pos < part.size() && IsBlank(part[pos])) ++pos;
    const size_t name_start = pos;
    while (pos < part.size() && !IsBlank(part[pos]) && part[pos] != '=') ++pos;
    const std::string_view name = part.substr(name_start, pos - name_start);
    while (pos < part.size() && IsBlank(part[pos])) ++pos;
    if (name.empty() || pos >= part.size() || part[pos] != '=') return;
    ++pos;
    while (pos < part.size() && IsBlank(part[pos])) ++pos;
    if (pos >= part.size() || part[pos] != '"') return;
    const size_t value_end = part.find('"', pos + 1);
    if (value_end == std::string_view::npos) return;
    element.AddStoredAttribute(name, part.substr(pos + 1, value_end - pos - 1));
    pos = value_end + 1;
  }
}

// True when |text| holds at |pos| a tag named |name|: "<name" (or "</name"
// when |closing|) followed by a blank or ">".
bool TagAt(std::string_view text, size_t pos, std::string_view name, bool closing) {
  const size_t start = pos + (closing ? 2 : 1);
  if (start + name.size() >= text.size()) return false;
  if (closing && text[pos + 1] != '/') return false;
  if (text.compare(start, name.size(), name) != 0) return false;
  const char after = text[start + name.size()];
  return after == '>' || IsBlank(after);
}

// The end (one past ">") of the closing tag that balances the opening tag
// of |name| whose name ends at |from|, or npos when it is not closed.
size_t BalancingEnd(std::string_view content, size_t from, std::string_view name) {
  int open = 1;
  for (size_t pos = content.find('<', from); pos != std::string_view::npos;
       pos = content.find('<', pos + 1)) {
    if (TagAt(content, pos, name, /*closing=*/true)) {
      if (--open == 0) {
        const size_t end = content.find('>', pos);
        return end == std::string_view::npos ? end : end + 1;
      }
    } else if (TagAt(content, pos, name, /*closing=*/false)) {
      ++open;
    }
  }
  return std::string_view::npos;
}

class Reader {
 public:
  void Element(std::string_view text, SimpleXMLElement& element, int depth) {
    // The name: from behind "</" of the last tag to its ">".
    const size_t last = text.rfind('<');
    if (last == std::string_view::npos) return;
    const size_t last_end = text.find('>', last);
    if (last_end == std::string_view::npos || last + 2 > last_end) return;
    const std::string_view name = Trimmed(text.substr(last + 2, last_end - last - 2));
    if (name.empty()) return;
    element.SetStoredName(name);

    // The opening tag and its attributes.
    const size_t open = FindOpeningTag(text, name);
    if (open == std::string_view::npos) return;
    const size_t open_end = text.find('>', open);
    if (open_end == std::string_view::npos) return;
    ReadAttributes(text.substr(open + 1 + name.size(), open_end - open - 1 - name.size()), element);

    // The content: a value, or child elements.
    if (open_end + 1 > last) return;
    const std::string_view content = text.substr(open_end + 1, last - open_end - 1);
    if (content.find('<') == std::string_view::npos || depth >= kSimpleXmlMaxDepth) {
      element.SetStoredValue(content);
      return;
    }
    Children(content, element, depth);
  }

 private:
  static size_t FindOpeningTag(std::string_view text, std::string_view name) {
    for (size_t pos = text.find('<'); pos != std::string_view::npos;
         pos = text.find('<', pos + 1)) {
      if (text.compare(pos + 1, name.size(), name) == 0) return pos;
    }
    return std::string_view::npos;
  }

  void Children(std::string_view content, SimpleXMLElement& parent, int depth) {
    size_t start = content.find('<');
    while (start != std::string_view::npos && elements_ < kSimpleXmlMaxElements) {
      size_t name_end = start + 1;
      while (name_end < content.size() && content[name_end] != '>' && !IsBlank(content[name_end])) {
        ++name_end;
      }
      const std::string_view name = content.substr(start + 1, name_end - start - 1);
      if (name.empty() || name_end >= content.size()) return;
      const size_t end = BalancingEnd(content, name_end, name);
      if (end == std::string_view::npos) return;
      ++elements_;
      auto child = std::make_unique<SimpleXMLElement>();
      Element(content.substr(start, end - start), *child, depth + 1);
      parent.AddChild(std::move(child));
      start = content.find('<', end);
    }
  }

  int elements_ = 1;
};

}  // namespace

std::string PrepareSimpleXmlText(std::string_view text) {
  std::string prepared;
  prepared.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    const size_t open = text.find(kCdataOpen, pos);
    const size_t close =
        open == std::string_view::npos ? open : text.find(kCdataClose, open + kCdataOpen.size());
    if (close == std::string_view::npos) break;
    prepared.append(text.substr(pos, open - pos));
    const size_t inner = open + kCdataOpen.size();
    prepared += EscapeXmlEntities(text.substr(inner, close - inner));
    pos = close + kCdataClose.size();
  }
  prepared.append(text.substr(pos));
  prepared.erase(std::remove_if(prepared.begin(), prepared.end(),
                                [](char c) { return c == '\t' || c == '\n'; }),
                 prepared.end());
  return prepared;
}

void ParseSimpleXml(std::string_view text, SimpleXMLElement& element) {
  const std::string prepared = PrepareSimpleXmlText(text);
  Reader().Element(prepared, element, 0);
}

}  // namespace wardex
