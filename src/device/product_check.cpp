// Host buffer and exact check of one order's product.
//
// Every order lands n*n doubles in fresh memory and reads them once. With
// small pages the kernel's zeroing of that memory on first touch costs more
// than the copy and the check together, so the buffer is mapped on its own
// and advised to use huge pages before anything touches it. The check tests
// whole blocks without a branch per element, which the compiler turns into
// vector compares, and looks for the exact element only in a block that has
// a mismatch.
#include "product_check.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>

static uint64_t mappedBytes(uint64_t bytes) {
  return (bytes + HUGE_PAGE_BYTES - 1) / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES;
}

double* allocateHostProduct(uint64_t bytes) {
  const uint64_t length = mappedBytes(bytes);
  // Over-map by one huge page, then unmap what lies outside the aligned
  // range: both ends fall on page boundaries because the mapping's start
  // does and HUGE_PAGE_BYTES is a multiple of the page size.
  // An anonymous mapping takes no file: -1 is the descriptor POSIX asks for,
  // which cppcheck's model of mmap does not know.
  // cppcheck-suppress invalidFunctionArg
  void* mapped = mmap(nullptr, length + HUGE_PAGE_BYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  char* const base = static_cast<char*>(mapped);
  const uintptr_t address = reinterpret_cast<uintptr_t>(base);
  const uint64_t head = (HUGE_PAGE_BYTES - address % HUGE_PAGE_BYTES) % HUGE_PAGE_BYTES;
  char* const start = base + head;
  // munmap of a range inside a mapping of our own fails only for arguments
  // that are not page aligned, which these are; the statuses are not
  // examined. The same holds in releaseHostProduct.
  if (head != 0) munmap(base, head);
  munmap(start + length, HUGE_PAGE_BYTES - head);
  // Advice only: where the system offers no huge pages the buffer works the
  // same with small ones, so the status is not examined.
  madvise(start, length, MADV_HUGEPAGE);
  return static_cast<double*>(static_cast<void*>(start));
}

void releaseHostProduct(double* c_h, uint64_t bytes) { munmap(c_h, mappedBytes(bytes)); }

// Two doubles per vector: the width every 64-bit target has, and enough for
// a loop that is bound by memory bandwidth.
typedef double Lanes __attribute__((vector_size(16)));
using LaneMask = decltype(Lanes{} != Lanes{});  // a lane is all ones where the compare holds
constexpr uint64_t LANES = sizeof(Lanes) / sizeof(double);
// cppcheck cannot size the vector type, and takes LANES for 1.
// cppcheck-suppress moduloofone
static_assert(CHECK_BLOCK % LANES == 0, "a block is whole vectors");

// True when any of the CHECK_BLOCK elements at values differs from expected.
// != is true when either side is a NaN.
static bool blockHasMismatch(const double* values, Lanes expected) {
  LaneMask differ = {};
  for (uint64_t i = 0; i < CHECK_BLOCK; i += LANES) {
    Lanes lanes;
    std::memcpy(&lanes, values + i, sizeof lanes);  // an unaligned load; the buffer needs no alignment
    differ |= lanes != expected;
  }
  auto any = differ[0];
  for (uint64_t lane = 1; lane < LANES; ++lane) any |= differ[lane];
  return any != 0;
}

bool findFirstMismatch(const double* c_h, uint32_t n, double expected, uint32_t* j, uint32_t* k) {
  // Row j, column k is element j*n + k, so scanning the elements in memory
  // order visits them in the order the first mismatch is defined by.
  const uint64_t count = static_cast<uint64_t>(n) * n;
  const Lanes broadcast = {expected, expected};
  uint64_t index = 0;
  while (index + CHECK_BLOCK <= count && !blockHasMismatch(c_h + index, broadcast)) index += CHECK_BLOCK;
  // From the start of the block that has a mismatch, or of the elements
  // after the last whole block.
  for (; index < count; ++index) {
    if (c_h[index] != expected) {
      *j = static_cast<uint32_t>(index / n);
      *k = static_cast<uint32_t>(index % n);
      return true;
    }
  }
  return false;
}
