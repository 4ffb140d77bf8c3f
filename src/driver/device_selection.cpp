// Device discovery: lists every CUDA device and selects those that qualify.
#include "device_selection.h"

#include <cuda_runtime_api.h>

#include <cstdio>

#include "process_exit.h"

int32_t deviceCount = 0;
uint32_t selectedDevices[MAX_SELECTED_DEVICES];
uint32_t selectedCount = 0;

bool deviceQualifies(int32_t major, int32_t minor) {
  constexpr int32_t EMULATION_DEVICE = 9999;
  if (major == EMULATION_DEVICE || minor == EMULATION_DEVICE) return false;
  return (major >= 1 && minor >= 3) || major >= 2;
}

void selectDevices() {
  // A failed count query leaves deviceCount at 0, which ends below in the
  // no-suitable-device message.
  cudaGetDeviceCount(&deviceCount);
  std::printf("deviceCount = %d\n", deviceCount);

  cudaDeviceProp properties{};
  for (int32_t i = 0; i < deviceCount; ++i) {
    if (cudaGetDeviceProperties(&properties, i) != cudaSuccess) {
      std::printf("Could not retrieve properties of device %d\n", i);
      endProcess(1);
    }
    std::printf("Testing device %d: %s\n", i, properties.name);
    if (!deviceQualifies(properties.major, properties.minor)) continue;
    // Testing only some of the devices must not pass as testing all of them.
    if (selectedCount == MAX_SELECTED_DEVICES) {
      std::printf("ERROR: More than %u suitable NVIDIA GPUs found; device %d cannot be tested. Aborting...\n",
                  MAX_SELECTED_DEVICES, i);
      endProcess(1);
    }
    selectedDevices[selectedCount] = static_cast<uint32_t>(i);
    ++selectedCount;
  }

  if (selectedCount == 0) {
    std::printf("No suitable NVIDIA GPUs found. Aborting...\n");
    endProcess(1);
  }
}
