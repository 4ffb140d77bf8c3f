// A test fixture over the simulated platform, and the sizes it offers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "device/order_bound.h"
#include "driver/run_settings.h"
#include "sim/sim_platform.h"

// Free memory for which the order bound at every step is bound (a multiple
// of 128): the root lands half-way into bound's slot.
inline uint64_t freeMemForBound(uint32_t bound) {
  const double root = 8.0 * bound + 4.0;
  return 3 * static_cast<uint64_t>(root * root) + MEMORY_RESERVE;
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simReset();
    iterations = DEFAULT_ITERATIONS;
    iterStep = DEFAULT_ITER_STEP;
    failedDevice.store(NO_FAILED_DEVICE);
  }
  void TearDown() override { simReset(); }
};
