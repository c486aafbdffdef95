// The Unix-socket side of the IPC library's connections, shared by the
// client and the server's receiver.
#pragma once

#include <memory>

#include "ipc_connection.h"
#include "platform/scoped_fd_posix.h"

namespace wardex::ipc {

// True when the peer of the connected socket |fd| runs as this process's user.
bool PeerIsSameUser(int fd);

// A connection over the connected stream socket |fd|.
std::unique_ptr<Connection> SocketConnection(platform::ScopedFd fd);

}  // namespace wardex::ipc
