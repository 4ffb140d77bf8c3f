// The simulated platform's shared state and the controls the tests use.
#include <algorithm>
#include <cmath>
#include <condition_variable>

#include "sim_platform.h"
#include "sim_state.h"

SimState& simState() {
  static SimState state;
  return state;
}

void simReset() {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.devices.clear();
  state.faults.clear();
  state.wrongElements.clear();
  for (auto& entry : state.allocations) std::free(const_cast<void*>(entry.first));
  state.allocations.clear();
}

int simAddDevice(const std::string& name, int major, int minor, uint64_t freeMem) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.devices.push_back(SimDevice{name, major, minor, freeMem, 0, 0, 0, nullptr, SimDeviceCounts{}});
  return static_cast<int>(state.devices.size()) - 1;
}

void simInjectFault(SimCall call, int device, uint32_t order, int allocation) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.faults.push_back(SimFault{call, device, order, allocation});
}

void simInjectWrongElement(int device, uint32_t order, uint64_t index, double value) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.wrongElements.push_back(SimWrongElement{device, order, index, value});
}

void simSetDgemmHook(int device, std::function<void()> hook) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.devices.at(static_cast<size_t>(device)).dgemmHook = std::move(hook);
}

void simHangDgemm(int device) {
  simSetDgemmHook(device, [] {
    static std::mutex never;
    static std::condition_variable nobody;
    std::unique_lock<std::mutex> wait(never);
    nobody.wait(wait, [] { return false; });
  });
}

SimDeviceCounts simCounts(int device) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.devices.at(static_cast<size_t>(device)).counts;
}

bool simFaultArmed(SimCall call, int device, uint32_t order, int allocation) {
  const auto& faults = simState().faults;
  return std::any_of(faults.begin(), faults.end(), [&](const SimFault& fault) {
    return fault.call == call && fault.device == device && (fault.order == SIM_ANY_ORDER || fault.order == order) &&
           (call != SimCall::Malloc || fault.allocation == allocation);
  });
}

uint32_t simOrderOfBytes(uint64_t bytes) {
  // The division truncates on purpose: bytes that are no whole number of
  // doubles fail the exact check below.
  const uint64_t elements = bytes / sizeof(double);
  const auto order = static_cast<uint32_t>(std::llround(std::sqrt(static_cast<double>(elements))));
  return static_cast<uint64_t>(order) * order * sizeof(double) == bytes ? order : 0;
}
