// The fill kernel, the program's only device code, and its launch.
#include "double_memset.h"
#include "double_memset_body.h"

// Registered as _Z12doubleMemsetPdjd: data, unsigned 32-bit count, value.
__global__ void doubleMemset(double* data, unsigned int count, double value) {
  doubleMemsetThread(data, count, value, blockIdx.x * blockDim.x + threadIdx.x, gridDim.x * blockDim.x);
}

void launchDoubleMemset(double* data, uint32_t order, double value) {
  doubleMemset<<<order / FILL_BLOCK, FILL_BLOCK>>>(data, order * order, value);
}
