// A helper that holds most of every visible GPU's memory, so that a program
// started beside it sees little free memory. It allocates all but the given
// number of MiB on each device, reports what it holds, prints "ready" and
// sleeps until it is killed; its memory goes back to the driver with it.
#include <cuda_runtime_api.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

constexpr uint64_t MIB = uint64_t{1024} * 1024;  // bytes
constexpr uint64_t LARGEST_CHUNK = 1024 * MIB;   // bytes per allocation, at most
constexpr uint64_t SMALLEST_CHUNK = MIB;         // bytes; below this the remainder is left free

static bool readMebibytes(const char* text, uint64_t* mebibytes) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0' || value > UINT64_MAX / MIB) return false;
  *mebibytes = value;
  return true;
}

// Allocates on the current device until at most leave bytes are free. Chunks
// shrink when a large one no longer fits. Returns false when the device
// cannot report its free memory.
static bool occupy(int device, uint64_t leave) {
  size_t freeBytes = 0;
  size_t totalBytes = 0;
  cudaError_t status = cudaMemGetInfo(&freeBytes, &totalBytes);
  if (status != cudaSuccess) {
    std::fprintf(stderr, "occupy_memory: cudaMemGetInfo failed on device %d: %s\n", device, cudaGetErrorString(status));
    return false;
  }
  uint64_t held = 0;
  uint64_t chunk = LARGEST_CHUNK;
  uint64_t toHold = freeBytes > leave ? freeBytes - leave : 0;
  while (toHold >= SMALLEST_CHUNK && chunk >= SMALLEST_CHUNK) {
    const uint64_t bytes = toHold < chunk ? toHold : chunk;
    void* buffer = nullptr;
    if (cudaMalloc(&buffer, bytes) != cudaSuccess) {
      cudaGetLastError();  // a refused allocation is expected here; clear it
      chunk /= 2;
      continue;
    }
    held += bytes;
    toHold -= bytes;
  }
  status = cudaMemGetInfo(&freeBytes, &totalBytes);
  if (status != cudaSuccess) {
    std::fprintf(stderr, "occupy_memory: cudaMemGetInfo failed on device %d: %s\n", device, cudaGetErrorString(status));
    return false;
  }
  std::printf("occupy_memory: device %d: holding %llu MiB, %llu MiB free\n", device,
              static_cast<unsigned long long>(held / MIB), static_cast<unsigned long long>(freeBytes / MIB));
  return true;
}

int main(int argc, char** argv) {
  uint64_t leaveMib = 0;
  if (argc != 2 || !readMebibytes(argv[1], &leaveMib)) {
    std::fprintf(stderr, "usage: %s <MiB to leave free on each GPU>\n", argc > 0 ? argv[0] : "occupy_memory");
    return 2;
  }
  int deviceCount = 0;
  const cudaError_t status = cudaGetDeviceCount(&deviceCount);
  if (status != cudaSuccess || deviceCount == 0) {
    std::fprintf(stderr, "occupy_memory: no CUDA device: %s\n", cudaGetErrorString(status));
    return 1;
  }
  for (int device = 0; device < deviceCount; ++device) {
    const cudaError_t bound = cudaSetDevice(device);
    if (bound != cudaSuccess) {
      std::fprintf(stderr, "occupy_memory: cudaSetDevice(%d) failed: %s\n", device, cudaGetErrorString(bound));
      return 1;
    }
    if (!occupy(device, leaveMib * MIB)) return 1;
  }
  std::printf("occupy_memory: ready\n");
  std::fflush(stdout);
  for (;;) pause();
}
