#include "ipc_wire.h"

#include <cstring>
#include <new>

#include "wardex/crashlog.h"

namespace wardex::ipc {

void PutLength(uint8_t* out, uint32_t length) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(length >> (8 * i));
}

uint32_t GetLength(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

std::string RequestFrame(const char* message, uint32_t length) {
  std::string frame(kRequestHeaderSize + length, '\0');
  PutLength(reinterpret_cast<uint8_t*>(frame.data()), length);
  if (length > 0) std::memcpy(frame.data() + kRequestHeaderSize, message, length);
  return frame;
}

bool ValidReplyHeader(const uint8_t* header) {
  if (header[0] == kNoReply) return true;
  const uint32_t size = GetLength(header + 1);
  return header[0] == kReplyFollows && size <= kFrameLimit + 1 && size % 2 == 0;
}

char* RequestReader::next() {
  return in_header() ? reinterpret_cast<char*>(header_) + header_got_ : message_.get() + got_;
}

size_t RequestReader::wanted() const {
  return in_header() ? kRequestHeaderSize - header_got_ : length_ - got_;
}

RequestReader::State RequestReader::Took(size_t count) {
  if (!in_header()) {
    got_ += count;
    return got_ < length_ ? State::kReading : State::kComplete;
  }
  header_got_ += count;
  if (in_header()) return State::kReading;
  length_ = GetLength(header_);
  if (length_ > kFrameLimit) {
    LogW(kLogError, u"IPC: refused a frame of %u bytes (limit %u)", length_, kFrameLimit);
    return State::kRefused;
  }
  // Not value-initialised: only the pages the text fills are touched.
  message_.reset(new (std::nothrow) char[length_]);
  if (!message_) {
    LogW(kLogError, u"IPC: no memory for a frame of %u bytes; refused", length_);
    return State::kRefused;
  }
  return length_ == 0 ? State::kComplete : State::kReading;
}

void RequestReader::LogIncomplete() const {
  if (!in_header()) {
    LogW(kLogError, u"IPC: incomplete frame of %u bytes dropped", length_);
  } else if (header_got_ > 0) {
    LogW(kLogError, u"IPC: incomplete frame header dropped");
  }
}

}  // namespace wardex::ipc
