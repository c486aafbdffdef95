#include "osal/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "osal/wide_format.h"

namespace KaOSAL {
namespace {

TEST(ErrorTextTest, KnownCodes) {
  const struct {
    uint32_t code;
    const char16_t* expected;
  } cases[] = {
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
  };
  for (const auto& c : cases) {
    std::u16string text;
    ASSERT_TRUE(GetErrorText(c.code, text)) << std::hex << c.code;
    EXPECT_EQ(ToUtf8(text), ToUtf8(c.expected)) << std::hex << c.code;
  }
}

TEST(ErrorTextTest, UnknownCodesLeaveTheOutputAlone) {
  for (uint32_t code : {99999u, 0xDEADBEEFu, 0x80070000u | 99999u, 0x8007FFFFu,
                        kErrnoErrorBase | 0xFFFFu, 0x90070005u}) {
    std::u16string text = u"before";
    EXPECT_FALSE(GetErrorText(code, text)) << std::hex << code;
    EXPECT_EQ(text, u"before");
  }
}

}  // namespace
}  // namespace KaOSAL
