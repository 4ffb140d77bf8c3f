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

// strerror_r comes in two forms: the GNU one returns the text, which may or
// may not be in the buffer; the POSIX one fills the buffer and returns a
// status.
[[maybe_unused]] static const char* errorText(const char* text, const char* /*buffer*/) { return text; }
[[maybe_unused]] static const char* errorText(int status, const char* buffer) {
  return status == 0 ? buffer : "Unknown error";
}

void startWorkers() {
  for (uint32_t i = 0; i < selectedCount; ++i) {
    const uint32_t device = selectedDevices[i];
    // The ordinal travels as the thread's pointer-sized argument, by value.
    void* argument = reinterpret_cast<void*>(static_cast<uintptr_t>(device));  // NOLINT(performance-no-int-to-ptr)
    const int status = pthread_create(&workerThreads[i], nullptr, deviceTestThread, argument);
    workerStarted[i] = status == 0;
    if (!workerStarted[i]) {
      // The workers started so far are running: strerror, which may share
      // one buffer between threads, is not safe here.
      char buffer[256];
      const char* reason = errorText(strerror_r(status, buffer, sizeof(buffer)), buffer);
      std::printf("ERROR: Could not start the test thread for device %u: %s\n", device, reason);
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
