#include "ipc_server.h"

#include "ipc_receiver.h"
#include "ipc_wire.h"

namespace wardex::ipc {

IpcServer::IpcServer() = default;

IpcServer::~IpcServer() { StopListening(); }

uint32_t IpcServer::GetFrameLimit() { return kFrameLimit; }

int32_t IpcServer::StartListening(const char16_t* channel, IpcMessageCallback callback,
                                  uintptr_t context) {
  if (callback == nullptr) return kIpcInvalidArgument;
  if (receiver_) return kIpcChannelInUse;
  int32_t result = kIpcOk;
  receiver_ = Receiver::Start(channel != nullptr ? channel : u"", callback, context, result);
  return result;
}

void IpcServer::StopListening() { receiver_.reset(); }

}  // namespace wardex::ipc
