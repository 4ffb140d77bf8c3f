// The driver's free-memory query, reached through the runtime's entry-point
// lookup. Linking the driver library directly would stop the program from
// loading at all on a machine without the NVIDIA driver, where it must still
// start and report that no GPU was found.
#include "free_memory.h"

#include <cuda.h>
#include <cudaTypedefs.h>
#include <cuda_runtime_api.h>

// cuMemGetInfo with the ABI of CUDA 3.2 is cuMemGetInfo_v2, which reports
// sizes as size_t.
constexpr unsigned int MEM_GET_INFO_V2_VERSION = 3020;

static void* lookUpMemGetInfo() {
  void* entry = nullptr;
  cudaDriverEntryPointQueryResult found = cudaDriverEntryPointSymbolNotFound;
#if CUDART_VERSION >= 12050
  const cudaError_t status =
      cudaGetDriverEntryPointByVersion("cuMemGetInfo", &entry, MEM_GET_INFO_V2_VERSION, cudaEnableDefault, &found);
#else
  // Before 12.5 the lookup picks the newest ABI the runtime knows: _v2 here.
  const cudaError_t status = cudaGetDriverEntryPoint("cuMemGetInfo", &entry, cudaEnableDefault, &found);
#endif
  if (status != cudaSuccess || found != cudaDriverEntryPointSuccess) return nullptr;
  return entry;
}

bool queryFreeMemory(uint64_t* freeBytes) {
  const auto memGetInfo = reinterpret_cast<PFN_cuMemGetInfo_v3020>(lookUpMemGetInfo());
  if (memGetInfo == nullptr) return false;
  size_t freeNow = 0;
  size_t total = 0;
  if (memGetInfo(&freeNow, &total) != CUDA_SUCCESS) return false;
  *freeBytes = freeNow;
  return true;
}
