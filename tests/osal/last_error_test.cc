#include "osal/last_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "osal/error_text.h"

namespace KaOSAL {
namespace {

// A sample of the table: the codes callers test for, and errno values it lacks.
TEST(LastErrorTest, ErrnoTable) {
  const struct {
    int errno_value;
    uint32_t expected;
  } cases[] = {
      {0, 0},          {ENOENT, 2},      {EACCES, 5},        {EPERM, 5},
      {EEXIST, 183},   {ENOTEMPTY, 145}, {ETIMEDOUT, 10060}, {ECONNREFUSED, 10061},
      {EAGAIN, 10035}, {-1, 31},         {100000, 31},       {EDOM, 31},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Win32ErrorFromErrno(c.errno_value), c.expected) << "errno " << c.errno_value;
  }
}

TEST(LastErrorTest, EveryMappedCodeHasAText) {
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

}  // namespace
}  // namespace KaOSAL
