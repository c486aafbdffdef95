// What the fuzz targets share: their input as bytes, and a check whose
// failure is a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace wardex::fuzz {

inline std::string_view Bytes(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Ends the run as a finding unless |holds|.
inline void Require(bool holds) {
  if (!holds) std::abort();
}

}  // namespace wardex::fuzz
