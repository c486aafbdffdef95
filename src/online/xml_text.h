// The stored form of the XML layer's texts (values, attribute values, names):
// the wide text with every line feed as "#_#lbr#_#", entity-escaped, as UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "osal/ka_string.h"

namespace wardex {

// Replaces "&", the double quote, "<", ">" and the apostrophe by their
// entities, in this order, so that no entity written is escaped again.
std::string EscapeXmlEntities(std::string_view text);
// The stored form of |text|.
std::string ToXmlStoredForm(const KaOSAL::KaString& text);
// The wide text of a stored form: UTF-8 to wide, the entities replaced back
// (&amp; last, see simple_xml_element.cc), "#_#lbr#_#" back to line feeds.
KaOSAL::KaString FromXmlStoredForm(std::string_view stored);

}  // namespace wardex
