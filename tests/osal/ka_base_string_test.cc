#include "osal/ka_base_string.h"

#include <gtest/gtest.h>

namespace KaOSAL {
namespace {

TEST(KaBaseStringTest, Smoke) {
  KaAString s(u"abc");
  EXPECT_EQ(s.GetLength(), 3);
}

}  // namespace
}  // namespace KaOSAL
