// The fill kernel's per-thread loop, run for every thread of the grid the
// worker launches.
#include <gtest/gtest.h>

#include <vector>

#include "device/double_memset.h"
#include "device/double_memset_body.h"

namespace {

// Runs the launch's grid on the host with each thread storing its own index,
// so the result shows which thread wrote which element.
std::vector<double> fillByThread(uint32_t order, uint32_t count) {
  std::vector<double> data(static_cast<size_t>(order) * order + FILL_BLOCK, -1.0);
  const uint32_t blocks = order / FILL_BLOCK;
  const uint32_t stride = blocks * FILL_BLOCK;
  for (uint32_t thread = 0; thread < stride; ++thread) {
    doubleMemsetThread(data.data(), count, thread, thread, stride);
  }
  return data;
}

TEST(DoubleMemset, EveryElementIsWrittenOnceByThreadIndexModuloStride) {
  for (const uint32_t order : {128u, 160u, 256u, 384u, 1000u}) {
    const uint32_t count = order * order;
    const uint32_t stride = order / FILL_BLOCK * FILL_BLOCK;
    const std::vector<double> data = fillByThread(order, count);
    for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(data[i], static_cast<double>(i % stride)) << order << " " << i;
    // Nothing past the end.
    for (size_t i = count; i < data.size(); ++i) ASSERT_EQ(data[i], -1.0) << order;
  }
}

TEST(DoubleMemset, ThreadsShareTheWorkEvenly) {
  struct Row {
    uint32_t order;
    uint32_t perThread;
  };
  // Order 160: one block of 128 threads sets 25,600 elements, 200 each.
  // Order 128: one block, 128 elements each, 128 apart.
  for (const Row row : {Row{160, 200}, Row{128, 128}, Row{256, 256}}) {
    const std::vector<double> data = fillByThread(row.order, row.order * row.order);
    std::vector<uint32_t> written(size_t{FILL_BLOCK} * (row.order / FILL_BLOCK), 0);
    for (uint32_t i = 0; i < row.order * row.order; ++i) ++written[static_cast<size_t>(data[i])];
    for (const uint32_t count : written) EXPECT_EQ(count, row.perThread) << row.order;
  }
}

TEST(DoubleMemset, ThreadsAtOrBeyondCountStoreNothing) {
  std::vector<double> data(8, -1.0);
  for (uint32_t thread = 0; thread < FILL_BLOCK; ++thread) doubleMemsetThread(data.data(), 5, 7.0, thread, FILL_BLOCK);
  EXPECT_EQ(data, (std::vector<double>{7.0, 7.0, 7.0, 7.0, 7.0, -1.0, -1.0, -1.0}));

  std::vector<double> untouched(4, -1.0);
  for (uint32_t thread = 0; thread < FILL_BLOCK; ++thread)
    doubleMemsetThread(untouched.data(), 0, 7.0, thread, FILL_BLOCK);
  EXPECT_EQ(untouched, std::vector<double>(4, -1.0));
}

}  // namespace
