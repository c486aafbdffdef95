#include <thread>

#include <gtest/gtest.h>

#include "osal/last_error.h"
#include "osal/thread_slots.h"
#include "wardex/crashlog.h"

namespace {

TEST(ThreadSlotsTest, EachThreadSeesItsOwnValues) {
  int main_value = 0;
  int worker_value = 0;
  const int index = GetGlobalTlsIndex(7);
  ASSERT_TRUE(KaOSAL::TlsSetValue(index, &main_value));
  void* seen_by_worker_before = &main_value;
  std::thread worker([&] {
    seen_by_worker_before = KaOSAL::TlsGetValue(index);
    EXPECT_TRUE(KaOSAL::TlsSetValue(index, &worker_value));
    EXPECT_EQ(KaOSAL::TlsGetValue(index), &worker_value);
  });
  worker.join();
  EXPECT_EQ(seen_by_worker_before, nullptr) << "a new thread starts with empty slots";
  EXPECT_EQ(KaOSAL::TlsGetValue(index), &main_value);
  EXPECT_EQ(KaOSAL::TlsGetValue(GetGlobalTlsIndex(8)), nullptr);
  EXPECT_EQ(KaOSAL::GetLastError(), KaOSAL::kErrorSuccess);
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
