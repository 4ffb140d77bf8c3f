// The fill launch, run on the host: every thread of the grid the device
// would run executes the kernel's own per-thread loop.
#include <cuda_runtime_api.h>

#include "device/double_memset.h"
#include "device/double_memset_body.h"
#include "sim_state.h"

void simSetLastError(cudaError_t status);

void launchDoubleMemset(double* data, uint32_t order, double value) {
  {
    SimState& state = simState();
    std::lock_guard<std::mutex> guard(state.lock);
    const int device = simCurrentDevice();
    SimDevice& simulated = state.devices.at(static_cast<size_t>(device));
    simulated.lastLaunchOrder = order;
    const auto found = state.allocations.find(data);
    const uint64_t count = static_cast<uint64_t>(order) * order;
    if (found == state.allocations.end() || found->second.device != device ||
        found->second.bytes < count * sizeof(double) || order < FILL_BLOCK) {
      ++simulated.counts.misuses;
      simSetLastError(cudaErrorInvalidValue);
      return;
    }
    if (simFaultArmed(SimCall::Launch, device, order)) {
      simSetLastError(cudaErrorNoKernelImageForDevice);
      return;
    }
  }
  const uint32_t blocks = order / FILL_BLOCK;
  const uint32_t stride = blocks * FILL_BLOCK;
  for (uint32_t block = 0; block < blocks; ++block) {
    for (uint32_t thread = 0; thread < FILL_BLOCK; ++thread) {
      doubleMemsetThread(data, order * order, value, block * FILL_BLOCK + thread, stride);
    }
  }
}
