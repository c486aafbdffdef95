// The reader of the XML layer: it reads what SimpleXMLElement::ToXml writes
// and the news feed service's answers, not XML in general.
#pragma once

#include <string>
#include <string_view>

namespace wardex {

class SimpleXMLElement;

// Limits that keep a hostile answer within bounded time and memory.
inline constexpr int kSimpleXmlMaxDepth = 256;        // deeper markup stays text
inline constexpr int kSimpleXmlMaxElements = 100000;  // later elements are dropped

// The answer text prepared for reading: every CDATA section replaced by its
// entity-escaped inner text, then every tab and line feed removed.
std::string PrepareSimpleXmlText(std::string_view text);

// Parses |text| (an answer text) into |element|, which must be empty.
void ParseSimpleXml(std::string_view text, SimpleXMLElement& element);

}  // namespace wardex
