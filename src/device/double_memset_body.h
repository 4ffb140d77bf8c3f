// One thread's share of the fill, shared by the device kernel and the host
// stand-in the tests launch, so that both run the same index arithmetic.
#pragma once

#include <cstdint>

#if defined(__CUDACC__)
#define VELDRUN_HOST_DEVICE __host__ __device__
#else
#define VELDRUN_HOST_DEVICE
#endif

// Grid-stride loop in unsigned 32-bit arithmetic: the thread at firstIndex
// stores value into every stride-th element below count. i + stride cannot
// wrap, because count < 65536^2 and stride <= 65536 keep it below 2^32.
VELDRUN_HOST_DEVICE inline void doubleMemsetThread(double* data, uint32_t count, double value, uint32_t firstIndex,
                                                   uint32_t stride) {
  for (uint32_t i = firstIndex; i < count; i += stride) data[i] = value;
}
