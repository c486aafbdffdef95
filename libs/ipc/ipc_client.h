// The pipe client: one exchange per call over the channel's connection.
#pragma once

#include <string>

#include "wardex/ipc.h"

namespace wardex::ipc {

class IpcClient final : public IIpcClient {
 public:
  uint32_t GetFrameLimit() override;
  int32_t SendMessage(const char16_t* address, const char* message, uint32_t length,
                      char16_t* reply, uint32_t* reply_size, uint32_t timeout_ms) override;
  int32_t SetChannel(const char16_t* channel) override;

 private:
  std::u16string channel_;
};

}  // namespace wardex::ipc
