// The system's handle of an open object as it passes between the platform's
// own files: a file descriptor on Linux, a HANDLE on Windows. Code outside
// the platform layer only hands it on; it never closes one it did not open.
#pragma once

#include <cstdint>

namespace wardex::platform {

enum class NativeHandle : intptr_t {};
inline constexpr NativeHandle kNoNativeHandle{-1};

}  // namespace wardex::platform
