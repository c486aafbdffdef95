// The pipe server's message callback and the one process-wide target it
// hands decoded messages to (the main frame).
#pragma once

#include <atomic>
#include <cstdint>

#include "modules/module_message.h"
#include "wardex/export.h"

namespace wardex {

// What the callback needs of the frame: its stopping flag, its count of
// running callbacks and the handling of a decoded message by its kind.
class PipeMessageTarget {
 public:
  // Acts on |message| and fills its result fields for the reply.
  virtual void HandlePipeMessage(ModuleMessage& message) = 0;

  // Set once shutdown has begun: callbacks then return at once, without a reply.
  std::atomic<uint8_t> stopping_{0};
  std::atomic<int32_t> running_callbacks_{0};

 protected:
  ~PipeMessageTarget() = default;
};

// The text of a pipe message as a zero-terminated copy would read it: text
// after an embedded zero byte is not part of it. Empty when there is no
// memory for the wide text.
KaOSAL::KaString DecodePipeMessage(const char* message, uint32_t length);

// Sets the process-wide target; the frame sets it once and never clears it.
void SetPipeMessageTarget(PipeMessageTarget* target);

// The callback given to the IPC server: decodes the UTF-8 message, lets the
// target handle it and writes the reply when it fits with its terminator
// (else the reply size becomes 0).
void WARDEX_STDCALL PipeMessageCallback(const char* message, uint32_t length, char16_t* reply,
                                        uint32_t* reply_size, uintptr_t context);

}  // namespace wardex
