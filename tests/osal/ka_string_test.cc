#include "osal/ka_string.h"

#include <gtest/gtest.h>

namespace KaOSAL {
namespace {

TEST(KaStringTest, Smoke) {
  KaString s(u"abc");
  EXPECT_EQ(s.GetLength(), 3);
}

}  // namespace
}  // namespace KaOSAL
