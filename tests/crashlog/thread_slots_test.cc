#include <gtest/gtest.h>

#include <thread>

#include "osal/last_error.h"
#include "osal/thread_slots.h"
#include "wardex/crashlog.h"

namespace {

TEST(ThreadSlotsTest, EachThreadSeesItsOwnValues) {
  int main_value = 0;
  const int index = GetGlobalTlsIndex(7);
  ASSERT_TRUE(KaOSAL::TlsSetValue(index, &main_value));
  void* seen_by_worker = &main_value;
  std::thread([&] {
    seen_by_worker = KaOSAL::TlsGetValue(index);
    EXPECT_TRUE(KaOSAL::TlsSetValue(index, &seen_by_worker));
  }).join();
  EXPECT_EQ(seen_by_worker, nullptr) << "a new thread starts with empty slots";
  EXPECT_EQ(KaOSAL::TlsGetValue(index), &main_value);
}

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
