// Message digests.
#pragma once

#include <string>

namespace wardex::platform {

// The MD5 digest (RFC 1321) of |data| as 32 lowercase hexadecimal digits.
// Linux: from OpenSSL's default provider whatever the process's
// configuration (FIPS or base only); Windows: from CNG. Empty when the
// system cannot give MD5 at all (logged once).
[[nodiscard]] std::string Md5Hex(const std::string& data);

}  // namespace wardex::platform
