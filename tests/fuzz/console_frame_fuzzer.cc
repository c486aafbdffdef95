// Arbitrary bytes on the Console's socket, as either side reads them: no
// crash, no unbounded allocation, and every message handed out encodes back
// to the bytes it came from.
#include "fuzz_input.h"
#include "protocol/console_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace wardex;
  using namespace wardex::console;
  FrameReader reader;
  // Delivered in two parts, as a socket may split them.
  const std::string_view input = fuzz::Bytes(data, size);
  reader.Append(input.data(), size / 2);
  reader.Append(input.data() + size / 2, size - size / 2);
  ConsoleMessage message;
  size_t offset = 0;
  while (reader.Next(&message) == FrameReader::Status::kMessage) {
    const std::string frame = EncodeFrame(message);
    fuzz::Require(input.substr(offset, frame.size()) == frame);
    offset += frame.size();
  }
  return 0;
}
