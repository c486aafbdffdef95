// The rules that an item of the news feed service's answer must pass before
// anything of it is kept, shown or run. Everything the service sends is
// untrusted: ids become file and element names, links are opened, pictures
// are handed to the desktop, commands are command lines.
#pragma once

#include <cstdint>
#include <string>

#include "online/simple_xml_element.h"
#include "osal/ka_string.h"

namespace wardex {

enum class NewsItemCheck {
  kValid,
  kMissingField,  // no id, title or enddate
  kBadEndDate,    // an enddate of other than 10 characters
  kUnsafeId,      // an id that cannot be a file and element name
};

// Whether |item| (an element of the answer) may be chosen.
[[nodiscard]] NewsItemCheck CheckNewsItem(SimpleXMLElement& item);

// An id is a safe name: 1 to 64 ASCII letters, digits, "_", "-" or ".",
// not beginning with ".": a file name in the news folder and an element name
// in data.xml, never a path or markup.
[[nodiscard]] bool IsSafeNewsId(const KaOSAL::KaString& id);

// "RRGGBB" (exactly six hexadecimal digits) as red + green * 256 + blue *
// 65536; false for anything else.
[[nodiscard]] bool ParseNewsColour(const KaOSAL::KaString& text, uint32_t* colour);

// The command line of an item's command: "start" (any case) is "/scanall";
// a command beginning with "scan" becomes "/scan:<argument>"..., blanks
// removed, in double quotes, and only with letters, digits and "/:._,-" in
// it. False (and an empty line) for any other command.
[[nodiscard]] bool NewsCommandLine(const KaOSAL::KaString& command, KaOSAL::KaString* line);

// True for an "https://" address with a host and without blanks, control
// characters, quotes or angle brackets, of at most 2048 characters.
[[nodiscard]] bool IsHttpsLink(const KaOSAL::KaString& link);

// |url| followed by "?" (or "&" when it has one), "ClientId=" and
// |computer_id|, and "&phash=" and |phash| when that is not empty.
[[nodiscard]] KaOSAL::KaString CompleteNewsLink(const KaOSAL::KaString& url,
                                                const KaOSAL::KaString& computer_id,
                                                const KaOSAL::KaString& phash);

// True when |bytes| begin as a PNG file does: the signature and an image
// header chunk with a width and a height, neither above 4096 pixels.
[[nodiscard]] bool LooksLikePng(const std::string& bytes);

}  // namespace wardex
