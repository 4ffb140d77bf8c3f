// The bound on the matrix order, from free memory.
#include <gtest/gtest.h>

#include "device/order_bound.h"

namespace {

TEST(OrderBound, FollowsFreeMemory) {
  struct Row {
    uint64_t freeMem;
    uint32_t bound32;
    uint32_t bound64;
    uint32_t bound128;
  };
  const Row rows[] = {
      {uint64_t{1} << 30, 2304, 2304, 2304},                        // S / 8 = 2335.8 truncates to 2335
      {uint64_t{80} << 30, 21120, 21120, 21120},                    // 80 GiB
      {80'000'000'000, 20384, 20352, 20352},                        // the low bits are cleared to the step
      {uint64_t{32} << 20, 192, 192, 128},                          // just above the reserve
      {MEMORY_RESERVE, 0, 0, 0},                                    // nothing above the reserve
      {uint64_t{20} << 20, ORDER_LIMIT, ORDER_LIMIT, ORDER_LIMIT},  // below the reserve: wraps
      {0, ORDER_LIMIT, ORDER_LIMIT, ORDER_LIMIT},
      {900'000'000'000, ORDER_LIMIT, ORDER_LIMIT, ORDER_LIMIT},  // n*n would pass 32 bits
  };
  for (const Row& row : rows) {
    EXPECT_EQ(iterSizeFor(row.freeMem, 32), row.bound32) << row.freeMem;
    EXPECT_EQ(iterSizeFor(row.freeMem, 64), row.bound64) << row.freeMem;
    EXPECT_EQ(iterSizeFor(row.freeMem, 128), row.bound128) << row.freeMem;
  }
}

TEST(OrderBound, LargestOrderKeepsElementCountWithin32Bits) {
  const uint64_t largest = ORDER_LIMIT - 32;
  EXPECT_LT(largest * largest, uint64_t{1} << 32);
  EXPECT_GE(uint64_t{ORDER_LIMIT} * ORDER_LIMIT, uint64_t{1} << 32);
}

}  // namespace
