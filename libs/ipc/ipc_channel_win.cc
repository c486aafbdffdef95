// Channels on Windows: named pipes are one namespace for the whole machine,
// so a channel's pipe name carries its user's security identifier; the
// pipe's security descriptor, not the name, keeps other users out.
#include <string>
#include <vector>

#include "ipc_channel.h"
#include "ipc_pipe_win.h"
#include "osal/wide_format.h"

namespace wardex::ipc {
namespace {

constexpr char kPipePrefix[] = "\\\\.\\pipe\\wardex.";
// The longest pipe name the system takes.
constexpr size_t kPipeNameLimit = 256;

// The SID of this process's user as text ("S-1-5-21-..."); empty when
// unknown. A SID holds no '.', so the name's first '.' after it ends it.
std::string UserSidText() {
  const std::vector<uint8_t>& sid = CurrentUserSid();
  if (sid.empty()) return {};
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(const_cast<uint8_t*>(sid.data()), &text)) return {};
  std::string narrow;
  for (const wchar_t* c = text; *c != 0; ++c) narrow += static_cast<char>(*c);
  LocalFree(text);
  return narrow;
}

std::string ComputerName(COMPUTER_NAME_FORMAT format) {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 256] = {};
  DWORD size = sizeof(name) / sizeof(name[0]);
  if (!GetComputerNameExW(format, name, &size)) return {};
  return KaOSAL::ToUtf8(reinterpret_cast<const char16_t*>(name), size);
}

}  // namespace

const std::vector<uint8_t>& CurrentUserSid() {
  static const std::vector<uint8_t> sid = [] {
    std::vector<uint8_t> bytes;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return bytes;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<uint8_t> user(size);
    if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
      const PSID found = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
      const auto* first = static_cast<const uint8_t*>(found);
      bytes.assign(first, first + GetLengthSid(found));
    }
    CloseHandle(token);
    return bytes;
  }();
  return sid;
}

bool TokenOfCurrentUser(HANDLE token) {
  const std::vector<uint8_t>& own = CurrentUserSid();
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<uint8_t> user(size);
  return !own.empty() && size > 0 &&
         GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
         EqualSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid,
                  const_cast<uint8_t*>(own.data()));
}

std::string ChannelEndpoint(const char16_t* channel, ChannelPathError* error) {
  ChannelPathError ignored;
  ChannelPathError& reason = error != nullptr ? *error : ignored;
  const std::string sid = UserSidText();
  if (sid.empty()) {
    reason = ChannelPathError::kNoPrivateFolder;
    return {};
  }
  std::string name = kPipePrefix + sid + "." + EscapeChannel(channel);
  if (name.size() > kPipeNameLimit) {
    reason = ChannelPathError::kNameTooLong;
    return {};
  }
  reason = ChannelPathError::kNone;
  return name;
}

std::wstring ChannelPipeName(const char16_t* channel) {
  const std::string name = ChannelEndpoint(channel);
  return std::wstring(name.begin(), name.end());
}

const char* ChannelPathErrorText(ChannelPathError error) {
  switch (error) {
    case ChannelPathError::kNone:
      break;
    case ChannelPathError::kNoPrivateFolder:
      return "the user's security identifier, which names the channel's pipe, cannot be read";
    case ChannelPathError::kNameTooLong:
      return "the channel name is too long for a pipe name";
  }
  return "";
}

std::vector<std::string> LocalComputerNames() {
  return {ComputerName(ComputerNameDnsHostname), ComputerName(ComputerNameNetBIOS)};
}

}  // namespace wardex::ipc
