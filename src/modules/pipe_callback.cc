#include "modules/pipe_callback.h"

#include <cstring>
#include <new>
#include <string>

#include "osal/wide_format.h"

namespace wardex {
namespace {

void WriteReply(const KaString& text, char16_t* reply, uint32_t* reply_size) {
  const uint64_t bytes = static_cast<uint64_t>(text.GetLength()) * sizeof(char16_t);
  if (reply != nullptr && *reply_size >= bytes + sizeof(char16_t)) {
    std::memcpy(reply, text.c_str(), bytes + sizeof(char16_t));
    *reply_size = static_cast<uint32_t>(bytes + sizeof(char16_t));
  } else {
    *reply_size = 0;
  }
}

}  // namespace

KaString DecodePipeMessage(const char* message, uint32_t length) {
  // Read in place, without a zero-terminated copy, which would only add the
  // message's size to what a large message costs.
  try {
    const auto* zero = static_cast<const char*>(std::memchr(message, 0, length));
    const std::u16string wide =
        KaOSAL::FromUtf8(message, zero != nullptr ? static_cast<size_t>(zero - message) : length);
    return KaString(wide.c_str(), static_cast<int>(wide.size()));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

void WARDEX_STDCALL PipeMessageCallback(const char* message, uint32_t length, char16_t* reply,
                                        uint32_t* reply_size, uintptr_t context) {
  auto* dispatch = reinterpret_cast<PipeDispatch*>(context);
  if (dispatch == nullptr) return;
  // The ticket is given back on every way out, an exception's included, or
  // the owner's close would wait for it forever.
  const CallbackGate::Ticket inside = dispatch->gate().Enter();
  if (!inside) return;
  if (message != nullptr && length != 0) {
    ModuleMessage record = ReadModuleMessage(DecodePipeMessage(message, length));
    dispatch->handler().HandlePipeMessage(record);
    WriteReply(WriteModuleReply(record), reply, reply_size);
  }
}

}  // namespace wardex
