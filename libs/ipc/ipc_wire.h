// The IPC library's wire format and socket helpers.
//
// One connection carries one exchange. The client sends a request frame:
// a 4-byte little-endian length, then that many bytes of UTF-8 message. The
// server answers with a reply frame: one status byte (kReplyFollows or
// kNoReply), a 4-byte little-endian length, then that many bytes of UTF-16LE
// reply text including its terminating zero character. Lengths above
// kFrameLimit are refused before anything is allocated.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace wardex::ipc {

// The largest message or reply one frame carries: 1 MiB.
inline constexpr uint32_t kFrameLimit = 1u << 20;

inline constexpr uint8_t kReplyFollows = 1;
inline constexpr uint8_t kNoReply = 2;

using Clock = std::chrono::steady_clock;

enum class IoStatus { kOk, kTimeout, kClosed, kError };

// Reads exactly |size| bytes before |deadline|.
IoStatus ReadExact(int fd, void* buffer, size_t size, Clock::time_point deadline);
// Writes exactly |size| bytes before |deadline|.
IoStatus WriteExact(int fd, const void* buffer, size_t size, Clock::time_point deadline);

void PutLength(uint8_t* out, uint32_t length);
uint32_t GetLength(const uint8_t* in);

// True when the peer of the connected socket |fd| runs as this process's user.
bool PeerIsSameUser(int fd);

}  // namespace wardex::ipc
