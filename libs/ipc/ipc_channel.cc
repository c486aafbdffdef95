#include "ipc_channel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "osal/wide_format.h"

namespace wardex::ipc {
namespace {

constexpr char kDefaultChannel[] = "default";

std::string Utf8(const char16_t* text) {
  if (text == nullptr) return {};
  size_t length = 0;
  while (text[length] != 0) ++length;
  return KaOSAL::ToUtf8(text, length);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string EscapeChannel(const char16_t* channel) {
  const std::string text = Utf8(channel);
  if (text.empty()) return kDefaultChannel;
  std::string name;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
      name += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
      name += escaped;
    }
  }
  // "." and ".." are folder names, not channels.
  if (name == "." || name == "..") name = "%2E" + name.substr(1);
  return name;
}

bool IsLocalAddress(const char16_t* address) {
  const std::string text = Utf8(address);
  if (text.empty() || EqualsNoCase(text, "localhost") || text == "127.0.0.1" || text == "::1") {
    return true;
  }
  const std::vector<std::string> names = LocalComputerNames();
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& name) { return EqualsNoCase(text, name); });
}

}  // namespace wardex::ipc
