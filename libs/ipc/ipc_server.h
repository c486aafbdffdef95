// The pipe server. One receiving thread accepts connections and reads their
// requests side by side; only a complete request is handed to a worker,
// which runs the message callback and writes the reply. So a client that is
// slow or silent holds a connection slot, never a worker. The receiving
// thread is the platform's (ipc_receiver.h); the workers are shared.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "wardex/ipc.h"

namespace wardex::ipc {

// Connections open at once (being read, waiting for a worker or being
// served); further clients wait to be accepted. With the frame limit this
// bounds what requests can make the server hold.
inline constexpr int kMaxConnections = 128;
// A client must deliver its whole request this soon after it was accepted,
// so that a silent or half-sent client holds its connection slot briefly.
inline constexpr auto kRequestTimeout = std::chrono::seconds(5);

class Receiver;

class IpcServer final : public IIpcServer {
 public:
  IpcServer();
  ~IpcServer() override;
  IpcServer(const IpcServer&) = delete;
  IpcServer& operator=(const IpcServer&) = delete;

  uint32_t GetFrameLimit() override;
  int32_t StartListening(const char16_t* channel, IpcMessageCallback callback,
                         uintptr_t context) override;
  void StopListening() override;

 private:
  std::unique_ptr<Receiver> receiver_;
};

}  // namespace wardex::ipc
