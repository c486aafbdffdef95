// The pipe server's message callback. The IPC library hands it back the
// context given at start: a PipeDispatch, the handler behind a gate that its
// owner closes, and waits on, before it lets go of what the handler uses.
#pragma once

#include <cstdint>

#include "modules/callback_gate.h"
#include "modules/module_message.h"
#include "wardex/export.h"

namespace wardex {

// What a decoded message is handed to: acts on it by its kind and fills its
// result fields for the reply. Runs on the IPC library's threads.
class PipeMessageHandler {
 public:
  virtual void HandlePipeMessage(ModuleMessage& message) = 0;

 protected:
  ~PipeMessageHandler() = default;
};

class PipeDispatch {
 public:
  explicit PipeDispatch(PipeMessageHandler& handler) : handler_(handler) {}
  PipeDispatch(const PipeDispatch&) = delete;
  PipeDispatch& operator=(const PipeDispatch&) = delete;

  // What the server's StartListening gets as the callback's context.
  [[nodiscard]] uintptr_t context() { return reinterpret_cast<uintptr_t>(this); }
  // Once closed, a message is ignored without a reply.
  CallbackGate& gate() { return gate_; }
  const CallbackGate& gate() const { return gate_; }
  PipeMessageHandler& handler() { return handler_; }

 private:
  PipeMessageHandler& handler_;
  CallbackGate gate_;
};

// The text of a pipe message as a zero-terminated copy would read it: text
// after an embedded zero byte is not part of it. Empty when there is no
// memory for the wide text.
KaOSAL::KaString DecodePipeMessage(const char* message, uint32_t length);

// The callback given to the IPC server with a PipeDispatch as |context|:
// decodes the UTF-8 message, lets the handler act on it and writes the reply
// when it fits with its terminator (else the reply size becomes 0).
void WARDEX_STDCALL PipeMessageCallback(const char* message, uint32_t length, char16_t* reply,
                                        uint32_t* reply_size, uintptr_t context);

}  // namespace wardex
