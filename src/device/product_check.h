// The host side of every order: the buffer that receives the product, and
// the exact check of every element.
#pragma once

#include <cstdint>

// The check tests this many consecutive elements at a time for any mismatch.
constexpr uint64_t CHECK_BLOCK = 64;  // elements

// Fresh host memory is aligned to, and its length rounded up to, this size,
// so that the kernel can back all of it with transparent huge pages.
constexpr uint64_t HUGE_PAGE_BYTES = uint64_t{2} * 1024 * 1024;  // bytes

// A fresh host buffer of bytes for one order's product, or nullptr. It comes
// straight from the kernel, aligned to HUGE_PAGE_BYTES and not yet touched.
double* allocateHostProduct(uint64_t bytes);
// Releases a buffer from allocateHostProduct, given the same bytes.
void releaseHostProduct(double* c_h, uint64_t bytes);

// Finds the first element of the n x n product that is not exactly expected,
// scanning j (outer) and k (inner) over element j*n + k. A NaN never equals
// expected. Returns false when every element matches.
bool findFirstMismatch(const double* c_h, uint32_t n, double expected, uint32_t* j, uint32_t* k);
