// Run settings shared by the driver and every worker thread.
//
// The driver writes iterations and iterStep before any worker starts; after
// that they are read-only. failedDevice is the one value written while the
// workers run.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int32_t DEFAULT_ITERATIONS = 1;  // passes over the orders
constexpr int32_t DEFAULT_ITER_STEP = 32;  // matrix-order step of speed setting 0
constexpr int32_t NO_FAILED_DEVICE = -1;   // failedDevice while no device has failed

extern int32_t iterations;  // number of passes over the matrix orders
extern int32_t iterStep;    // step between matrix orders: 32, 64 or 128

// Ordinal of the device whose worker failed last. It only tells the other
// workers to stop at their next order and the driver which device to name, so
// it orders no other data: every access is relaxed.
extern std::atomic<int32_t> failedDevice;
