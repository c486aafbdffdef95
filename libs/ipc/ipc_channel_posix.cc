#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "ipc_channel.h"
#include "osal/wide_format.h"
#include "platform/runtime_dir_posix.h"

namespace wardex::ipc {

std::string ChannelEndpoint(const char16_t* channel, ChannelPathError* error) {
  ChannelPathError ignored;
  ChannelPathError& reason = error != nullptr ? *error : ignored;
  reason = ChannelPathError::kNoPrivateFolder;
  const KaOSAL::KaString runtime = platform::GetRuntimeFolder();
  if (runtime.IsEmpty()) return {};
  const std::string folder =
      KaOSAL::ToUtf8(runtime.c_str(), static_cast<size_t>(runtime.GetLength())) + "/ipc";
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & 077) != 0) {
    return {};
  }
  std::string path = folder + "/" + EscapeChannel(channel);
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

std::vector<std::string> LocalComputerNames() {
  char host[256] = {};
  if (gethostname(host, sizeof(host) - 1) != 0) return {};
  return {host};
}

}  // namespace wardex::ipc
