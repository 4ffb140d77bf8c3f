// The per-device test worker: binds to its device, sizes the test from free
// memory, and at every matrix order of every pass fills A, B and C on the
// device, computes C = A*B + C with DGEMM, copies C back and checks every
// element exactly against 2n + 3.
#include "device_test.h"

#include <cublas_v2.h>
#include <cuda_runtime_api.h>

#include <cstdint>
#include <cstdio>

#include "device/double_memset.h"
#include "device/free_memory.h"
#include "device/order_bound.h"
#include "device/product_check.h"
#include "driver/run_settings.h"

constexpr uint32_t FIRST_ORDER = 128;  // every pass starts at this matrix order

static void* failDevice(int32_t device) {
  failedDevice.store(device, std::memory_order_relaxed);
  return WORKER_FAILED;
}

// Allocates one n x n device matrix. name is the matrix's letter in the
// failure message.
static bool allocateMatrix(double** matrix, uint64_t bytes, const char* name, uint32_t n) {
  if (cudaMalloc(reinterpret_cast<void**>(matrix), bytes) == cudaSuccess) return true;
  std::fprintf(stderr, "Error: cublasAlloc(%s) failed at i = %d\n", name, static_cast<int>(n));
  return false;
}

// Tests one matrix order on the bound device. On failure it has written its
// message and released the host buffer; the device buffers of a failing order
// are left to the process's end, which follows shortly.
static bool testOrder(int32_t device, cublasHandle_t cublas, uint32_t n) {
  const uint64_t bytes = static_cast<uint64_t>(n) * sizeof(double) * n;
  double* c_h = allocateHostProduct(bytes);
  if (c_h == nullptr) {
    std::fprintf(stderr, "ERROR: malloc of c_h failed. Aborting.\n");
    return false;
  }
  double* a = nullptr;
  double* b = nullptr;
  double* c = nullptr;
  if (!allocateMatrix(&a, bytes, "A", n) || !allocateMatrix(&b, bytes, "B", n) || !allocateMatrix(&c, bytes, "C", n)) {
    releaseHostProduct(c_h, bytes);
    return false;
  }

  launchDoubleMemset(a, n, 1.0);
  launchDoubleMemset(b, n, 2.0);
  launchDoubleMemset(c, n, 3.0);
  // A launch the device refuses (no kernel image for it, say) queues nothing,
  // so the synchronisation alone would succeed: its code is left as the
  // thread's last error, which is examined here too.
  const cudaError_t synchronised = cudaDeviceSynchronize();
  const cudaError_t lastError = cudaGetLastError();
  if (synchronised != cudaSuccess || lastError != cudaSuccess) {
    std::fprintf(stderr, "Error: cudaThreadSynchronize returned %s\n",
                 cudaGetErrorString(lastError != cudaSuccess ? lastError : synchronised));
    releaseHostProduct(c_h, bytes);
    return false;
  }

  // Every element of A*B is n products 1.0 * 2.0; C adds 3.0. Integers this
  // small are exact in double precision, so equality is the test.
  const double expected = 2.0 * n + 3.0;
  const double alpha = 1.0;
  const double beta = 1.0;
  const int order = static_cast<int>(n);
  if (cublasDgemm(cublas, CUBLAS_OP_N, CUBLAS_OP_N, order, order, order, &alpha, a, order, b, order, &beta, c, order) !=
      CUBLAS_STATUS_SUCCESS) {
    std::fprintf(stderr, "Error: cublasDgemm failed!\n");
    releaseHostProduct(c_h, bytes);
    return false;
  }

  // A failed copy must not pass: the fresh host buffer may hold an earlier
  // order's correct values.
  const cudaError_t copied = cudaMemcpy(c_h, c, bytes, cudaMemcpyDeviceToHost);
  if (copied != cudaSuccess) {
    std::fprintf(stderr, "Error: cudaMemcpy(C) failed at i = %d: %s\n", order, cudaGetErrorString(copied));
    releaseHostProduct(c_h, bytes);
    return false;
  }

  uint32_t j = 0;
  uint32_t k = 0;
  if (findFirstMismatch(c_h, n, expected, &j, &k)) {
    std::fprintf(stderr,
                 "Error: cublasDgemm returned an invalid result at location %d,%d in iteration %d on device %d\n",
                 static_cast<int>(j), static_cast<int>(k), order, device);
    std::printf("%f\n", c_h[j * n + k]);
    releaseHostProduct(c_h, bytes);
    return false;
  }

  releaseHostProduct(c_h, bytes);
  // A release that fails means the device has faulted; the next order's
  // synchronisation reports that, so these statuses are not examined.
  cudaFree(a);
  cudaFree(b);
  cudaFree(c);
  return true;
}

void* deviceTestThread(void* argument) {
  const auto device = static_cast<int32_t>(reinterpret_cast<uintptr_t>(argument));
  std::printf("device = %d\n", device);

  if (cudaSetDevice(device) != cudaSuccess) {
    std::fprintf(stderr, "cudaSetDevice(%d) failed\n", device);
    return failDevice(device);
  }
  // Each worker owns its cuBLAS handle, created on its own device. The
  // handle lives as long as the process.
  cublasHandle_t cublas = nullptr;
  if (cublasCreate(&cublas) != CUBLAS_STATUS_SUCCESS) {
    std::fprintf(stderr, "Error: cublasInit failed from device %u\n", static_cast<unsigned>(device));
    return failDevice(device);
  }

  uint64_t freeMem = 0;
  if (!queryFreeMemory(&freeMem)) {
    std::fprintf(stderr, "Error: cuMemGetInfo_v2 failed from device %d\n", device);
    return failDevice(device);
  }
  const uint32_t iterSize = iterSizeFor(freeMem, iterStep);
  std::printf("freeMem(MB) = %u         iterSize = %u\n", static_cast<unsigned>(freeMem / 1048576), iterSize);

  const auto step = static_cast<uint32_t>(iterStep);
  for (int32_t pass = 0; pass < iterations; ++pass) {
    for (uint32_t n = FIRST_ORDER; n < iterSize; n += step) {
      if (failedDevice.load(std::memory_order_relaxed) != NO_FAILED_DEVICE) return WORKER_COMPLETED;
      std::printf("Device %d: i = %d\n", device, static_cast<int>(n));
      if (!testOrder(device, cublas, n)) return failDevice(device);
    }
  }
  std::printf("Device %d completed successfully\n", device);
  return WORKER_COMPLETED;
}
