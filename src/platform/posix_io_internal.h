// Whole reads and writes on a descriptor, going on after EINTR and short
// counts, for the POSIX files of src/platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace wardex::platform {

// Writes all of |bytes|. False with errno set.
[[nodiscard]] bool WriteAll(int fd, std::string_view bytes);
// Appends everything up to the end of the file to |bytes|. False with errno
// set, EFBIG once more than |max_bytes| arrived (a file may grow meanwhile).
[[nodiscard]] bool ReadToEnd(int fd, std::string* bytes, size_t max_bytes = SIZE_MAX);
// Fills all of |size| bytes, from |offset| when it is given (the
// descriptor's position then stays), else from the position. False with
// errno set, EIO when the file ends first.
[[nodiscard]] bool ReadExactly(int fd, void* buffer, size_t size, int64_t offset = -1);

}  // namespace wardex::platform
