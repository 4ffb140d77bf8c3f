// The fill of one matrix on the device.
#pragma once

#include <cstdint>

constexpr uint32_t FILL_BLOCK = 128;  // threads per block of the fill

// Queues doubleMemset on the calling thread's device: every element of the
// order x order matrix at data set to value, with order / FILL_BLOCK blocks of
// FILL_BLOCK threads on the default stream. Asynchronous; a failed launch
// surfaces at the next synchronisation.
void launchDoubleMemset(double* data, uint32_t order, double value);
