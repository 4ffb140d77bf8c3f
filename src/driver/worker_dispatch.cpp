// Dispatch of the per-device workers and collection of their results.
#include "worker_dispatch.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/device_test.h"
#include "run_settings.h"

pthread_t workerThreads[MAX_SELECTED_DEVICES];

// Whether workerThreads[i] holds a running thread; a slot whose creation
// failed must never be joined.
static bool workerStarted[MAX_SELECTED_DEVICES];

void startWorkers() {
  for (uint32_t i = 0; i < selectedCount; ++i) {
    const uint32_t device = selectedDevices[i];
    void* argument = reinterpret_cast<void*>(static_cast<uintptr_t>(device));
    const int status = pthread_create(&workerThreads[i], nullptr, deviceTestThread, argument);
    workerStarted[i] = status == 0;
    if (!workerStarted[i]) {
      std::printf("ERROR: Could not start the test thread for device %u: %s\n", device, std::strerror(status));
      failedDevice.store(static_cast<int32_t>(device), std::memory_order_relaxed);
    }
  }
}

bool joinWorkers() {
  void* result = nullptr;
  for (uint32_t j = 0; j < selectedCount; ++j) {
    if (!workerStarted[j]) return false;
    pthread_join(workerThreads[j], &result);
    if (result != WORKER_COMPLETED) return false;
  }
  return true;
}
