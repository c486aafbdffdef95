#include "modules/pipe_callback.h"

#include <cstring>
#include <new>
#include <string>

#include "osal/wide_format.h"

namespace wardex {
namespace {

std::atomic<PipeMessageTarget*> g_target{nullptr};

// The message as the zero-terminated copy reads: text after an embedded zero
// byte is not part of it.
KaString DecodeMessage(const char* message, uint32_t length) {
  std::string copy;
  try {
    copy.assign(length + size_t{1}, '\0');
  } catch (const std::bad_alloc&) {
    return {};
  }
  std::memcpy(copy.data(), message, length);
  const std::u16string wide = KaOSAL::FromUtf8(copy.c_str(), std::strlen(copy.c_str()));
  return KaString(wide.c_str(), static_cast<int>(wide.size()));
}

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

void SetPipeMessageTarget(PipeMessageTarget* target) { g_target.store(target); }

void WARDEX_STDCALL PipeMessageCallback(const char* message, uint32_t length, char16_t* reply,
                                        uint32_t* reply_size, uintptr_t /*context*/) {
  PipeMessageTarget* target = g_target.load();
  if (target == nullptr) return;
  // Counted before the stopping flag is read: the frame sets the flag, then
  // waits for a count of 0, so no callback can slip in between the two.
  target->running_callbacks_.fetch_add(1);
  if (target->stopping_.load() != 0) {
    target->running_callbacks_.fetch_sub(1);
    return;
  }
  if (message != nullptr && length != 0) {
    ModuleMessage record = ReadModuleMessage(DecodeMessage(message, length));
    target->HandlePipeMessage(record);
    WriteReply(WriteModuleReply(record), reply, reply_size);
  }
  target->running_callbacks_.fetch_sub(1);
}

}  // namespace wardex
