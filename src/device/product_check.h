// The host side of every order: the buffer that receives the product, and
// the exact check of every element.
#pragma once

#include <cstdint>

// A fresh host buffer of bytes for one order's product, or nullptr.
double* allocateHostProduct(uint64_t bytes);
void releaseHostProduct(double* c_h, uint64_t bytes);

// Finds the first element of the n x n product that is not exactly expected,
// scanning j (outer) and k (inner) over element j*n + k. A NaN never equals
// expected. Returns false when every element matches.
bool findFirstMismatch(const double* c_h, uint32_t n, double expected, uint32_t* j, uint32_t* k);
