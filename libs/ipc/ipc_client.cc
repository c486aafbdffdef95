#include "ipc_client.h"

#include <new>

#include "ipc_channel.h"
#include "ipc_connection.h"
#include "ipc_wire.h"

namespace wardex::ipc {
namespace {

int32_t ResultOf(IoStatus status) {
  switch (status) {
    case IoStatus::kOk:
      return kIpcOk;
    case IoStatus::kTimeout:
      return kIpcTimeout;
    case IoStatus::kClosed:
    case IoStatus::kError:
      break;
  }
  return kIpcIoError;
}

}  // namespace

uint32_t IpcClient::GetFrameLimit() { return kFrameLimit; }

int32_t IpcClient::SetChannel(const char16_t* channel) {
  channel_ = channel != nullptr ? channel : u"";
  return kIpcOk;
}

int32_t IpcClient::SendMessage(const char16_t* address, const char* message, uint32_t length,
                               char16_t* reply, uint32_t* reply_size, uint32_t timeout_ms) {
  if ((message == nullptr && length > 0) || reply_size == nullptr ||
      (reply == nullptr && *reply_size > 0)) {
    return kIpcInvalidArgument;
  }
  const uint32_t capacity = *reply_size;
  *reply_size = 0;
  if (!IsLocalAddress(address)) return kIpcRefused;
  if (length > kFrameLimit) return kIpcTooLarge;

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int32_t result = kIpcOk;
  const std::unique_ptr<Connection> connection =
      ConnectToServer(channel_.c_str(), deadline, result);
  if (!connection) return result;
  std::string frame;
  try {
    frame = RequestFrame(message, length);
  } catch (const std::bad_alloc&) {
    return kIpcIoError;
  }
  if (IoStatus status = connection->Write(frame.data(), frame.size(), deadline);
      status != IoStatus::kOk) {
    return ResultOf(status);
  }

  uint8_t answer[kReplyHeaderSize];
  if (IoStatus status = connection->Read(answer, sizeof(answer), deadline);
      status != IoStatus::kOk) {
    return ResultOf(status);
  }
  if (!ValidReplyHeader(answer)) return kIpcIoError;
  if (answer[0] == kNoReply) return kIpcNoReply;
  const uint32_t size = GetLength(answer + 1);
  *reply_size = size;
  if (size > capacity) return kIpcReplyTooSmall;
  return ResultOf(connection->Read(reply, size, deadline));
}

}  // namespace wardex::ipc
