#include "ipc_channel.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "osal/wide_format.h"
#include "platform/runtime_dir.h"

namespace wardex::ipc {
namespace {

constexpr char kDefaultChannel[] = "default";

std::string Utf8(const char16_t* text) {
  if (text == nullptr) return {};
  size_t length = 0;
  while (text[length] != 0) ++length;
  return KaOSAL::ToUtf8(text, length);
}

// Returns the channel name as a safe file name.
std::string EscapeChannel(const std::string& channel) {
  if (channel.empty()) return kDefaultChannel;
  std::string name;
  for (unsigned char c : channel) {
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

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string ChannelSocketPath(const char16_t* channel, ChannelPathError* error) {
  ChannelPathError ignored;
  ChannelPathError& reason = error != nullptr ? *error : ignored;
  reason = ChannelPathError::kNoPrivateFolder;
  const KaOSAL::KaString runtime = platform::GetRuntimeFolder();
  if (runtime.IsEmpty()) return {};
  const std::string folder = Utf8(runtime.c_str()) + "/ipc";
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & 077) != 0) {
    return {};
  }
  std::string path = folder + "/" + EscapeChannel(Utf8(channel));
  if (path.size() >= sizeof(sockaddr_un::sun_path)) {
    reason = ChannelPathError::kNameTooLong;
    return {};
  }
  reason = ChannelPathError::kNone;
  return path;
}

const char* ChannelPathErrorText(ChannelPathError error) {
  switch (error) {
    case ChannelPathError::kNone:
      break;
    case ChannelPathError::kNoPrivateFolder:
      return "no private runtime folder for the channel";
    case ChannelPathError::kNameTooLong:
      return "the channel name is too long for a socket path";
  }
  return "";
}

bool IsLocalAddress(const char16_t* address) {
  const std::string text = Utf8(address);
  if (text.empty() || EqualsNoCase(text, "localhost") || text == "127.0.0.1" || text == "::1") {
    return true;
  }
  char host[256] = {};
  return gethostname(host, sizeof(host) - 1) == 0 && EqualsNoCase(text, host);
}

}  // namespace wardex::ipc
