// Arbitrary bytes on the Console's socket, as either side reads them: no
// crash, no unbounded allocation, and every message handed out encodes back
// to the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/console_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace wardex::console;
  FrameReader reader;
  // Delivered in two parts, as a socket may split them.
  const size_t half = size / 2;
  reader.Append(reinterpret_cast<const char*>(data), half);
  reader.Append(reinterpret_cast<const char*>(data) + half, size - half);
  ConsoleMessage message;
  size_t offset = 0;
  while (reader.Next(&message) == FrameReader::Status::kMessage) {
    const std::string frame = EncodeFrame(message);
    if (frame.compare(0, frame.size(), reinterpret_cast<const char*>(data) + offset,
                      frame.size()) != 0)
      abort();
    offset += frame.size();
  }
  return 0;
}
