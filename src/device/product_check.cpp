// Host buffer and exact check of one order's product.
#include "product_check.h"

#include <cstdlib>

double* allocateHostProduct(uint64_t bytes) { return static_cast<double*>(std::malloc(bytes)); }

void releaseHostProduct(double* c_h, uint64_t /*bytes*/) { std::free(c_h); }

bool findFirstMismatch(const double* c_h, uint32_t n, double expected, uint32_t* j, uint32_t* k) {
  for (uint32_t row = 0; row < n; ++row) {
    for (uint32_t column = 0; column < n; ++column) {
      // Written as a negated equality so that a NaN counts as a mismatch.
      if (!(c_h[row * n + column] == expected)) {
        *j = row;
        *k = column;
        return true;
      }
    }
  }
  return false;
}
