// Message digests.
#pragma once

#include <string>

namespace wardex::platform {

// The MD5 digest (RFC 1321) of |data| as 32 lowercase hexadecimal digits.
[[nodiscard]] std::string Md5Hex(const std::string& data);

}  // namespace wardex::platform
