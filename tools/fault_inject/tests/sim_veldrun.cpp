// Veldrun's own driver and worker on simulated GPUs, for tests that run it as
// a process: VELDRUN_SIM_DEVICES (1 to 8, default 1) simulated devices with
// SIM_FREE_MEMORY free each, so that with speed setting 2 every device tests
// the orders 128, 256 and 384.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/veldrun_main.h"
#include "sim/sim_platform.h"

constexpr uint64_t SIM_FREE_MEMORY = uint64_t{96} * 1024 * 1024;  // bytes free on each simulated device
constexpr int SIM_MAX_DEVICES = 8;

int main(int argc, char** argv) {
  // Read before any thread starts.
  const char* count = std::getenv("VELDRUN_SIM_DEVICES");  // NOLINT(concurrency-mt-unsafe)
  char* end = nullptr;
  const long devices = count != nullptr ? std::strtol(count, &end, 10) : 1;
  if (count != nullptr && (end == count || *end != '\0')) {
    std::fprintf(stderr, "sim_veldrun: VELDRUN_SIM_DEVICES must be a number\n");
    return 2;
  }
  if (devices < 1 || devices > SIM_MAX_DEVICES) {
    std::fprintf(stderr, "sim_veldrun: VELDRUN_SIM_DEVICES must be 1 to %d\n", SIM_MAX_DEVICES);
    return 2;
  }
  for (int device = 0; device < devices; ++device) {
    simAddDevice("Simulated GPU " + std::to_string(device), 9, 0, SIM_FREE_MEMORY);
  }
  return veldrunMain(argc, argv);
}
