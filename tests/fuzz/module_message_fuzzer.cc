// Feeds arbitrary text to ReadModuleMessage. Whatever it decodes must write a
// reply that parses, and a message that reads back to the same message.
#include "fuzz_input.h"
#include "modules/json_reader.h"
#include "modules/json_value.h"
#include "modules/module_message.h"
#include "osal/wide_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string utf16 = KaOSAL::FromUtf8(reinterpret_cast<const char*>(data), size);
  const KaOSAL::KaString text(utf16.data(), static_cast<int>(utf16.size()));

  const wardex::ModuleMessage message = wardex::ReadModuleMessage(text);
  (void)wardex::DescribeModuleMessage(message);

  wardex::CJsonValue reply;
  wardex::fuzz::Require(
      reply.Parse(wardex::WriteModuleReply(message), wardex::kModuleMessageReadFlags) &&
      reply.IsArray() && reply.Size() == 1);

  const KaOSAL::KaString written = wardex::WriteModuleMessage(message.kind, message);
  const wardex::ModuleMessage read_back = wardex::ReadModuleMessage(written);
  wardex::fuzz::Require(read_back.kind == message.kind);
  wardex::fuzz::Require(wardex::WriteModuleMessage(read_back.kind, read_back) == written);
  return 0;
}
