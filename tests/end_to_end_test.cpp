// The real Veldrun binary, with the real CUDA libraries, on a machine
// without the NVIDIA driver.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "capture.h"

namespace {

bool driverPresent() {
  void* driver = dlopen("libcuda.so.1", RTLD_NOW | RTLD_LOCAL);
  if (driver != nullptr) dlclose(driver);
  return driver != nullptr;
}

TEST(EndToEnd, WithoutArgumentsPrintsTheUsageOnStandardError) {
  const Captured run = runProgram(VELDRUN_BINARY, {});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, std::string("usage: ") + VELDRUN_BINARY +
                         " <speed setting> <iterations>\nSpeed settings:\n0 = iterate by 32 (default)\n1 = iterate "
                         "by 64\n2 = iterate by 128 (fastest)\n");
}

TEST(EndToEnd, WithoutTheDriverFindsNoGpu) {
  if (driverPresent()) GTEST_SKIP() << "the NVIDIA driver is installed here";
  const Captured run = runProgram(VELDRUN_BINARY, {"1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "sizeof(double) is 8\ndeviceCount = 0\nNo suitable NVIDIA GPUs found. Aborting...\n");
  EXPECT_EQ(run.err, "");
}

}  // namespace
