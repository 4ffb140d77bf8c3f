// The CUDA runtime calls the program makes, and the driver's free-memory
// query it reaches through the runtime, simulated in host memory.
#include <cuda.h>
#include <cuda_runtime_api.h>

#include <cstdlib>
#include <cstring>

#include "sim_state.h"

static thread_local int currentDevice = 0;
static thread_local cudaError_t lastError = cudaSuccess;

int simCurrentDevice() { return currentDevice; }

static cudaError_t fail(cudaError_t status) {
  lastError = status;
  return status;
}

static bool validDevice(int device) { return device >= 0 && static_cast<size_t>(device) < simState().devices.size(); }

cudaError_t cudaGetDeviceCount(int* count) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  if (simFaultArmed(SimCall::DeviceCount, 0)) return fail(cudaErrorNoDevice);
  *count = static_cast<int>(state.devices.size());
  return cudaSuccess;
}

cudaError_t cudaGetDeviceProperties(cudaDeviceProp* properties, int device) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  if (!validDevice(device) || simFaultArmed(SimCall::DeviceProperties, device)) return fail(cudaErrorInvalidDevice);
  const SimDevice& simulated = state.devices[static_cast<size_t>(device)];
  std::memset(properties, 0, sizeof(*properties));
  std::strncpy(properties->name, simulated.name.c_str(), sizeof(properties->name) - 1);
  properties->major = simulated.major;
  properties->minor = simulated.minor;
  return cudaSuccess;
}

cudaError_t cudaSetDevice(int device) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  if (!validDevice(device) || simFaultArmed(SimCall::SetDevice, device)) return fail(cudaErrorInvalidDevice);
  currentDevice = device;
  return cudaSuccess;
}

cudaError_t cudaMalloc(void** pointer, size_t bytes) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  SimDevice& device = state.devices.at(static_cast<size_t>(currentDevice));
  const uint32_t order = simOrderOfBytes(bytes);
  const int allocation = static_cast<int>(device.allocationsInOrder);
  device.allocationsInOrder = (device.allocationsInOrder + 1) % 3;
  if (simFaultArmed(SimCall::Malloc, currentDevice, order, allocation) || device.bytesInUse + bytes > device.freeMem) {
    return fail(cudaErrorMemoryAllocation);
  }
  void* buffer = std::malloc(bytes);
  if (buffer == nullptr) return fail(cudaErrorMemoryAllocation);
  // Fresh device memory holds garbage, so an element the fill missed fails
  // the check.
  std::memset(buffer, 0xA5, bytes);
  state.allocations[buffer] = SimAllocation{currentDevice, bytes};
  device.bytesInUse += bytes;
  SimDeviceCounts& counts = device.counts;
  ++counts.liveAllocations;
  if (counts.liveAllocations > counts.peakAllocations) counts.peakAllocations = counts.liveAllocations;
  *pointer = buffer;
  return cudaSuccess;
}

cudaError_t cudaFree(void* pointer) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  const auto found = state.allocations.find(pointer);
  SimDevice& device = state.devices.at(static_cast<size_t>(currentDevice));
  if (found == state.allocations.end() || found->second.device != currentDevice) {
    ++device.counts.misuses;
    return fail(cudaErrorInvalidValue);
  }
  device.bytesInUse -= found->second.bytes;
  --device.counts.liveAllocations;
  state.allocations.erase(found);
  std::free(pointer);
  return cudaSuccess;
}

cudaError_t cudaDeviceSynchronize() {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  const SimDevice& device = state.devices.at(static_cast<size_t>(currentDevice));
  if (simFaultArmed(SimCall::Synchronize, currentDevice, device.lastLaunchOrder)) return fail(cudaErrorLaunchFailure);
  return cudaSuccess;
}

cudaError_t cudaGetLastError() {
  const cudaError_t status = lastError;
  lastError = cudaSuccess;
  return status;
}

// The simulated launch of the fill records its failure here.
void simSetLastError(cudaError_t status) { lastError = status; }

const char* cudaGetErrorString(cudaError_t status) {
  switch (status) {
    case cudaSuccess:
      return "no error";
    case cudaErrorInvalidValue:
      return "invalid argument";
    case cudaErrorMemoryAllocation:
      return "out of memory";
    case cudaErrorInvalidDevice:
      return "invalid device ordinal";
    case cudaErrorNoDevice:
      return "no CUDA-capable device is detected";
    case cudaErrorLaunchFailure:
      return "unspecified launch failure";
    case cudaErrorNoKernelImageForDevice:
      return "no kernel image is available for execution on the device";
    default:
      return "unrecognized error code";
  }
}

cudaError_t cudaMemcpy(void* destination, const void* source, size_t bytes, cudaMemcpyKind kind) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  SimDevice& device = state.devices.at(static_cast<size_t>(currentDevice));
  const auto found = state.allocations.find(source);
  if (kind != cudaMemcpyDeviceToHost || found == state.allocations.end() || found->second.device != currentDevice ||
      found->second.bytes < bytes) {
    ++device.counts.misuses;
    return fail(cudaErrorInvalidValue);
  }
  if (simFaultArmed(SimCall::Memcpy, currentDevice, simOrderOfBytes(bytes))) return fail(cudaErrorLaunchFailure);
  std::memcpy(destination, source, bytes);
  return cudaSuccess;
}

static CUresult CUDAAPI simMemGetInfo(size_t* freeBytes, size_t* totalBytes) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  if (simFaultArmed(SimCall::MemGetInfo, currentDevice)) return CUDA_ERROR_UNKNOWN;
  const SimDevice& device = state.devices.at(static_cast<size_t>(currentDevice));
  *freeBytes = device.freeMem;
  *totalBytes = device.freeMem;
  return CUDA_SUCCESS;
}

static cudaError_t lookUpDriverEntry(const char* symbol, void** function, cudaDriverEntryPointQueryResult* found) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  if (std::strcmp(symbol, "cuMemGetInfo") != 0 || simFaultArmed(SimCall::EntryPoint, currentDevice)) {
    *function = nullptr;
    if (found != nullptr) *found = cudaDriverEntryPointSymbolNotFound;
    return cudaSuccess;
  }
  *function = reinterpret_cast<void*>(&simMemGetInfo);
  if (found != nullptr) *found = cudaDriverEntryPointSuccess;
  return cudaSuccess;
}

#if CUDART_VERSION >= 12050
cudaError_t cudaGetDriverEntryPointByVersion(const char* symbol, void** function, unsigned int version,
                                             unsigned long long /*flags*/, cudaDriverEntryPointQueryResult* found) {
  // Sizes as size_t came with the 3.2 ABI; an older one would be misread.
  if (version < 3020) return fail(cudaErrorInvalidValue);
  return lookUpDriverEntry(symbol, function, found);
}
#else
cudaError_t cudaGetDriverEntryPoint(const char* symbol, void** function, unsigned long long /*flags*/,
                                    cudaDriverEntryPointQueryResult* found) {
  return lookUpDriverEntry(symbol, function, found);
}
#endif
