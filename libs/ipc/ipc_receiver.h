// The server's receiving side, one per platform: it owns the channel's
// endpoint, accepts connections up to kMaxConnections, checks that each
// client runs as this user, reads requests within kRequestTimeout and hands
// every complete one to the workers.
#pragma once

#include <cstdint>
#include <memory>

#include "wardex/ipc.h"

namespace wardex::ipc {

class Receiver {
 public:
  // Takes the channel and starts the receiving thread. Null on failure, with
  // |result| set and the reason logged.
  static std::unique_ptr<Receiver> Start(const char16_t* channel, IpcMessageCallback callback,
                                         uintptr_t context, int32_t& result);
  // Stops receiving, lets callbacks in progress run to their end and gives
  // the channel up.
  virtual ~Receiver() = default;
};

}  // namespace wardex::ipc
