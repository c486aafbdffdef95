#include "config/profile_string.h"

#include <cstdint>
#include <vector>

#include "platform/profile.h"

namespace wardex {

using KaOSAL::KaString;

KaString ReadProfileString(const KaString& section, const KaString& key,
                           const KaString& defaultValue, const KaString& file) {
  // A returned length of the buffer size minus one means the value may have
  // been cut: ask again with twice the buffer until it is shorter.
  constexpr uint32_t kFirstBufferSize = 255;
  std::vector<char16_t> buffer;
  for (uint32_t size = kFirstBufferSize;; size *= 2) {
    buffer.resize(size);
    uint32_t length =
        platform::GetPrivateProfileString(section, key, defaultValue, buffer.data(), size, file);
    if (length != size - 1) return KaString(buffer.data(), static_cast<int>(length));
  }
}

bool WriteProfileString(const KaString& section, const KaString& key, const KaString& value,
                        const KaString& file) {
  return platform::WritePrivateProfileString(section, key, value, file) == 1;
}

}  // namespace wardex
