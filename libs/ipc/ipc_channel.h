// Where a channel's socket lives and which server addresses mean this computer.
#pragma once

#include <string>

namespace wardex::ipc {

// The socket path of |channel| in the user's private runtime folder:
// <runtime>/ipc/<name>, where an empty channel name is "default" and bytes
// other than letters, digits, '.', '_' and '-' are written as %XX. Empty when
// the folder cannot be made private or the path would not fit a socket address.
std::string ChannelSocketPath(const char16_t* channel);

// True for the addresses that mean this computer: empty, "localhost",
// "127.0.0.1", "::1" and this computer's host name (case-insensitive).
bool IsLocalAddress(const char16_t* address);

}  // namespace wardex::ipc
