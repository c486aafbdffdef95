#include <gtest/gtest.h>

#include "osal/last_error.h"
#include "osal/thread_slots.h"
#include "wardex/crashlog.h"

namespace {

TEST(ThreadSlotsTest, IndexesOutOfRangeFailWithInvalidParameter) {
  for (int slot : {-1, 16}) EXPECT_EQ(GetGlobalTlsIndex(slot), -1) << slot;
  for (int index : {-1, KaOSAL::kThreadSlotCount}) {
    int value = 0;
    KaOSAL::SetLastError(KaOSAL::kErrorSuccess);
    EXPECT_FALSE(KaOSAL::TlsSetValue(index, &value)) << index;
    EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidParameter);
    KaOSAL::SetLastError(KaOSAL::kErrorSuccess);
    EXPECT_EQ(KaOSAL::TlsGetValue(index), nullptr) << index;
    EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorInvalidParameter);
  }
}

}  // namespace
