// Definitions of the process-wide run settings.
#include "run_settings.h"

int32_t iterations = DEFAULT_ITERATIONS;
int32_t iterStep = DEFAULT_ITER_STEP;
std::atomic<int32_t> failedDevice{NO_FAILED_DEVICE};
