// Sizing the test from the device's free memory.
#include "order_bound.h"

#include <cmath>

uint32_t iterSizeFor(uint64_t freeMem, int32_t step) {
  const uint64_t usable = freeMem - MEMORY_RESERVE;  // unsigned: wraps below the reserve
  const uint64_t perMatrix = usable / 3;
  // The division by 8 comes after the square root, so the three largest
  // matrices take about an eighth of the usable memory, not all of it.
  const double root = std::sqrt(static_cast<double>(perMatrix));
  const auto bound = static_cast<uint32_t>(static_cast<int64_t>(root / 8.0));
  const uint32_t aligned = bound & ~(static_cast<uint32_t>(step) - 1);
  return aligned < ORDER_LIMIT ? aligned : ORDER_LIMIT;
}
