// The exact check of the product.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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

// The check as plainly as it can be written: every element in turn, j outer
// and k inner.
Mismatch referenceCheck(const std::vector<double>& product, uint32_t n, double expected) {
  for (uint32_t j = 0; j < n; ++j) {
    for (uint32_t k = 0; k < n; ++k) {
      if (!(product[j * n + k] == expected)) return Mismatch{true, j, k};
    }
  }
  return Mismatch{false, 0, 0};
}

// The check tests whole blocks of elements at a time and looks for the
// element only in a block that has a mismatch; it must agree with the plain
// loop wherever the wrong elements sit relative to the blocks.
TEST(ProductCheck, AgreesWithAPlainLoopAroundEveryBlockBoundary) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const uint64_t B = CHECK_BLOCK;
  struct Placement {
    const char* what;
    std::vector<uint64_t> wrongIndices;  // in elements; beyond the product they are left out
  };
  // n*n = 4096 is a whole number of blocks; 37*37 = 1369 and 23*23 = 529 end
  // in a partial block; 7*7 = 49 is less than one block.
  for (const uint32_t n : {64u, 37u, 23u, 7u}) {
    const uint64_t count = static_cast<uint64_t>(n) * n;
    const uint64_t lastBlockStart = count / B * B;
    const Placement placements[] = {
        {"first element", {0}},
        {"last element", {count - 1}},
        {"last of the first block", {B - 1}},
        {"first of the second block", {B}},
        {"inside a block", {2 * B + B / 2}},
        {"both sides of a boundary", {B - 1, B}},
        {"inside one block, then the next", {B + 3, 2 * B}},
        {"two in one block", {3 * B + 9, 3 * B + 2}},
        {"first after the whole blocks", {lastBlockStart}},
        {"last of the last whole block", {lastBlockStart - 1}},
        {"in the partial block and at the end", {lastBlockStart + 1, count - 1}},
        {"none", {}},
    };
    const double expected = 2.0 * n + 3.0;
    const double wrongValues[] = {
        std::nextafter(expected, 0.0), std::nextafter(expected, 1e9), nan, -nan, inf, 0.0, -expected,
    };
    for (const Placement& placement : placements) {
      for (const double wrong : wrongValues) {
        std::vector<double> product(count, expected);
        for (const uint64_t index : placement.wrongIndices) {
          if (index < count) product[index] = wrong;
        }
        const Mismatch reference = referenceCheck(product, n, expected);
        const Mismatch found = check(product, n, expected);
        SCOPED_TRACE(testing::Message() << "n = " << n << ", " << placement.what << ", value " << wrong);
        EXPECT_EQ(found.found, reference.found);
        if (reference.found) {
          EXPECT_EQ(found.j, reference.j);
          EXPECT_EQ(found.k, reference.k);
        }
      }
    }
  }
}

// A product that starts on an odd element is aligned for doubles but not for
// the pairs of them the check compares at once.
TEST(ProductCheck, FindsAMismatchInAProductOffByOneElement) {
  const uint32_t n = 40;
  const double expected = 2.0 * n + 3.0;
  std::vector<double> storage(n * n + 1, expected);
  double* const product = storage.data() + 1;
  product[1000] = std::nextafter(expected, 0.0);
  uint32_t j = 0;
  uint32_t k = 0;
  EXPECT_TRUE(findFirstMismatch(product, n, expected, &j, &k));
  EXPECT_EQ(j, 1000u / n);
  EXPECT_EQ(k, 1000u % n);
}

// Fresh host buffers are aligned for huge pages and hold every byte asked
// for, whatever their length.
TEST(HostProduct, HoldsEveryByteOfEveryLength) {
  for (const uint64_t bytes :
       {uint64_t{8}, uint64_t{4096 + 8}, HUGE_PAGE_BYTES, 3 * HUGE_PAGE_BYTES + uint64_t{8} * 129}) {
    double* c_h = allocateHostProduct(bytes);
    ASSERT_NE(c_h, nullptr) << bytes;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(c_h) % HUGE_PAGE_BYTES, 0u) << bytes;
    const uint64_t count = bytes / sizeof(double);
    for (uint64_t index = 0; index < count; ++index) c_h[index] = static_cast<double>(index);
    uint64_t wrong = 0;
    for (uint64_t index = 0; index < count; ++index) {
      if (c_h[index] != static_cast<double>(index)) ++wrong;
    }
    EXPECT_EQ(wrong, 0u) << bytes;
    releaseHostProduct(c_h, bytes);
  }
}

}  // namespace
