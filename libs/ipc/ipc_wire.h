// The IPC library's wire format, the same over every transport.
//
// One connection carries one exchange. The client sends a request frame:
// a 4-byte little-endian length, then that many bytes of UTF-8 message. The
// server answers with a reply frame: one status byte (kReplyFollows or
// kNoReply), a 4-byte little-endian length, then that many bytes of UTF-16LE
// reply text including its terminating zero character. Lengths above
// kFrameLimit are refused before anything is allocated. On a message-mode
// pipe each frame is one message; readers take frames in any pieces.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace wardex::ipc {

// The largest message or reply one frame carries: 1 MiB.
inline constexpr uint32_t kFrameLimit = 1u << 20;

inline constexpr size_t kRequestHeaderSize = 4;
inline constexpr size_t kReplyHeaderSize = 5;
inline constexpr uint8_t kReplyFollows = 1;
inline constexpr uint8_t kNoReply = 2;

using Clock = std::chrono::steady_clock;

enum class IoStatus { kOk, kTimeout, kClosed, kError };

void PutLength(uint8_t* out, uint32_t length);
uint32_t GetLength(const uint8_t* in);

// |message| behind its request header, as one frame.
std::string RequestFrame(const char* message, uint32_t length);

// Whether a reply header can be believed: a known status, and for a reply
// a length within the frame limit and a whole number of UTF-16 units.
bool ValidReplyHeader(const uint8_t* header);

// Assembles one request frame on the server from whatever pieces the
// connection delivers: read up to wanted() bytes into next(), then Took().
class RequestReader {
 public:
  enum class State {
    kReading,
    kComplete,
    kRefused,  // announced more than the frame limit, or no memory for it
  };

  [[nodiscard]] char* next();
  [[nodiscard]] size_t wanted() const;
  // Takes |count| bytes that were read into next(); logs a refusal.
  State Took(size_t count);

  uint32_t length() const { return length_; }
  // The complete message; the reader is empty afterwards.
  std::unique_ptr<char[]> TakeMessage() { return std::move(message_); }
  // Logs what arrived of a frame that ends incomplete; a client that sent
  // nothing sent no frame and is not logged.
  void LogIncomplete() const;

 private:
  bool in_header() const { return header_got_ < kRequestHeaderSize; }

  uint8_t header_[kRequestHeaderSize] = {};
  size_t header_got_ = 0;
  uint32_t length_ = 0;
  std::unique_ptr<char[]> message_;  // allocated once the header is complete
  size_t got_ = 0;
};

}  // namespace wardex::ipc
