// State shared by the parts of the simulated platform.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim_platform.h"

struct SimFault {
  SimCall call;
  int device;
  uint32_t order;
  int allocation;
};

struct SimWrongElement {
  int device;
  uint32_t order;
  uint64_t index;
  double value;
};

struct SimAllocation {
  int device;
  uint64_t bytes;
};

struct SimDevice {
  std::string name;
  int major;
  int minor;
  uint64_t freeMem;
  uint64_t bytesInUse;
  uint32_t allocationsInOrder;  // cycles through A, B, C
  uint32_t lastLaunchOrder;
  std::function<void()> dgemmHook;
  SimDeviceCounts counts;
};

struct SimState {
  std::mutex lock;
  std::vector<SimDevice> devices;
  std::vector<SimFault> faults;
  std::vector<SimWrongElement> wrongElements;
  std::map<const void*, SimAllocation> allocations;  // device pointer to its buffer
};

SimState& simState();

// Whether a fault is injected for call on device at order (callers hold the lock).
bool simFaultArmed(SimCall call, int device, uint32_t order = SIM_ANY_ORDER, int allocation = 0);

// The device the calling thread is bound to, as cudaSetDevice leaves it.
int simCurrentDevice();

// The matrix order whose n x n doubles take bytes, or 0 if none does.
uint32_t simOrderOfBytes(uint64_t bytes);
