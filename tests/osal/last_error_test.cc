// The system error code of the calling thread, from errno, and its text.
#include "osal/last_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "osal/error_text.h"
#include "osal/wide_format.h"

namespace KaOSAL {
namespace {

// A sample of the table: the codes callers test for, and errno values it lacks.
TEST(LastErrorTest, ErrnoTable) {
  const std::pair<int, uint32_t> cases[] = {
      {0, 0},          {ENOENT, 2},      {EACCES, 5},        {EPERM, 5},
      {EEXIST, 183},   {ENOTEMPTY, 145}, {ETIMEDOUT, 10060}, {ECONNREFUSED, 10061},
      {EAGAIN, 10035}, {-1, 31},         {100000, 31},       {EDOM, 31},
  };
  for (const auto& [errno_value, expected] : cases)
    EXPECT_EQ(Win32ErrorFromErrno(errno_value), expected) << "errno " << errno_value;
  // Every code the table maps to has a text.
  for (int errno_value = 0; errno_value < 256; ++errno_value) {
    std::u16string text;
    EXPECT_TRUE(GetErrorText(Win32ErrorFromErrno(errno_value), text)) << "errno " << errno_value;
  }
}

TEST(LastErrorTest, EachThreadHasItsOwn) {
  SetLastError(kErrorInvalidParameter);
  uint32_t seen_at_start = 1;
  uint32_t seen_after_wait = 0;
  std::thread other([&] {
    seen_at_start = GetLastError();
    SetLastError(kErrorAccessDenied);
    // Give the main thread a chance to overwrite a shared value.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    seen_after_wait = GetLastError();
  });
  SetLastError(kErrorFileNotFound);
  other.join();
  EXPECT_EQ(seen_at_start, kErrorSuccess);
  EXPECT_EQ(seen_after_wait, kErrorAccessDenied);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

// The text of each code; nullptr for an unknown one, which leaves the output alone.
TEST(ErrorTextTest, Codes) {
  const std::pair<uint32_t, const char16_t*> cases[] = {
      {0, u"The operation completed successfully.\r\n"},
      {2, u"The system cannot find the file specified.\r\n"},
      {5, u"Access is denied.\r\n"},
      {87, u"The parameter is incorrect.\r\n"},
      {183, u"Cannot create a file when that file already exists.\r\n"},
      {10061, u"No connection could be made because the target machine actively refused it.\r\n"},
      {12007, u"The server name or address could not be resolved\r\n"},
      {0x80004005, u"Unspecified error\r\n"},
      // HRESULTs of facility Win32 carry the text of their Win32 code.
      {0x80070005, u"Access is denied.\r\n"},
      {0x80070050, u"The file exists.\r\n"},
      // With the errno base the number is an errno; without it, a Win32 code (2 above).
      {kErrnoErrorBase | ENOENT, u"No such file or directory\r\n"},
      {99999u, nullptr},
      {0xDEADBEEFu, nullptr},
      {0x80070000u | 99999u, nullptr},
      {0x8007FFFFu, nullptr},
      {kErrnoErrorBase | 0xFFFFu, nullptr},
      {0x90070005u, nullptr},
  };
  for (const auto& [code, expected] : cases) {
    std::u16string text = u"before";
    EXPECT_EQ(GetErrorText(code, text), expected != nullptr) << std::hex << code;
    EXPECT_EQ(ToUtf8(text), ToUtf8(expected ? expected : u"before")) << std::hex << code;
  }
}

}  // namespace
}  // namespace KaOSAL
