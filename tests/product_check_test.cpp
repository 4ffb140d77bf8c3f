// The exact check of the product.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "device/product_check.h"

namespace {

struct Mismatch {
  bool found;
  uint32_t j;
  uint32_t k;
};

Mismatch check(const std::vector<double>& product, uint32_t n, double expected) {
  Mismatch mismatch{false, 0, 0};
  mismatch.found = findFirstMismatch(product.data(), n, expected, &mismatch.j, &mismatch.k);
  return mismatch;
}

TEST(ProductCheck, FindsTheFirstWrongElementInScanOrder) {
  const uint32_t n = 37;
  const double expected = 2.0 * n + 3.0;
  const double justAbove = std::nextafter(expected, 1e9);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Row {
    std::vector<uint32_t> wrongIndices;
    double wrongValue;
    uint32_t j;
    uint32_t k;
  };
  const Row rows[] = {
      {{0}, 0.0, 0, 0},
      {{n * n - 1}, 0.0, n - 1, n - 1},
      {{5 * n + 7, 9 * n + 1}, justAbove, 5, 7},  // the earlier of two
      {{3 * n + 36}, nan, 3, 36},
      {{n}, -expected, 1, 0},
  };
  for (const Row& row : rows) {
    std::vector<double> product(size_t{n} * n, expected);
    for (const uint32_t index : row.wrongIndices) product[index] = row.wrongValue;
    const Mismatch mismatch = check(product, n, expected);
    EXPECT_TRUE(mismatch.found);
    EXPECT_EQ(mismatch.j, row.j);
    EXPECT_EQ(mismatch.k, row.k);
  }
}

TEST(ProductCheck, PassesOnlyAnExactProduct) {
  const uint32_t n = 128;
  const double expected = 2.0 * n + 3.0;
  EXPECT_FALSE(check(std::vector<double>(size_t{n} * n, expected), n, expected).found);
  // An expected value of NaN matches nothing, not even NaN.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(check(std::vector<double>(size_t{n} * n, nan), n, nan).found);
}

}  // namespace
