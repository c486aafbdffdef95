// Where a channel's socket lives and which server addresses mean this computer.
#pragma once

#include <string>

namespace wardex::ipc {

// Why a channel has no socket path.
enum class ChannelPathError {
  kNone,
  kNoPrivateFolder,  // no runtime folder, or its ipc folder is not ours alone
  kNameTooLong,      // the path would not fit a socket address
};

// The socket path of |channel| in the user's private runtime folder:
// <runtime>/ipc/<name>, where an empty channel name is "default" and bytes
// other than letters, digits, '.', '_' and '-' are written as %XX. Empty, with
// the reason in |error| when given, when there is none.
std::string ChannelSocketPath(const char16_t* channel, ChannelPathError* error = nullptr);

// What ChannelPathError says, for people.
const char* ChannelPathErrorText(ChannelPathError error);

// True for the addresses that mean this computer: empty, "localhost",
// "127.0.0.1", "::1" and this computer's host name (case-insensitive).
bool IsLocalAddress(const char16_t* address);

}  // namespace wardex::ipc
