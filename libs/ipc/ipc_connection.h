// One exchange's connection as the platform carries it: a Unix domain socket,
// or a named-pipe instance in message mode on Windows. The client and the
// server's workers speak the wire format through it; how a server accepts
// connections is the platform's receiver (ipc_receiver.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ipc_wire.h"
#include "wardex/ipc.h"

namespace wardex::ipc {

class Connection {
 public:
  virtual ~Connection() = default;
  // Reads exactly |size| bytes before |deadline|.
  virtual IoStatus Read(void* buffer, size_t size, Clock::time_point deadline) = 0;
  // Writes all |size| bytes before |deadline|; a pipe carries them as one
  // message, so callers write a whole frame at once.
  virtual IoStatus Write(const void* data, size_t size, Clock::time_point deadline) = 0;
  // True when the other end has hung up.
  virtual bool PeerLeft() = 0;
};

// Connects to the server of |channel| before |deadline| and makes sure it
// runs as this process's user. Null on failure, with |result| set:
// kIpcNoServer, kIpcTimeout, kIpcRefused, kIpcInvalidArgument (the channel
// has no endpoint) or kIpcIoError.
std::unique_ptr<Connection> ConnectToServer(const char16_t* channel, Clock::time_point deadline,
                                            int32_t& result);

}  // namespace wardex::ipc
