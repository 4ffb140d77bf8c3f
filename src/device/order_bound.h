// The largest matrix order a device's free memory allows.
#pragma once

#include <cstdint>

constexpr uint64_t MEMORY_RESERVE = uint64_t{25} * 1024 * 1024;  // bytes kept free for the runtime and cuBLAS

// Exclusive bound on the order: beyond it n*n no longer fits the 32 bits in
// which element counts and indices are computed. A multiple of every step.
constexpr uint32_t ORDER_LIMIT = 65536;

// iterSize, the exclusive upper bound of the matrix order, for freeMem bytes
// free and a power-of-two step. Free memory below MEMORY_RESERVE wraps to a
// huge bound on purpose: the orders then climb until an allocation fails.
uint32_t iterSizeFor(uint64_t freeMem, int32_t step);
