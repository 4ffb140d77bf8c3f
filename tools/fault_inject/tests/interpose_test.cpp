// The injection library preloaded into Veldrun's own driver and worker on
// the simulated platform, built as a shared library in place of libcudart
// and libcublas: each rule must reach the call it names and end the run with
// Veldrun's own message, streams and status, and every other call must pass
// through unchanged.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "capture.h"

namespace {

struct Environment {
  bool preload;        // LD_PRELOAD the injection library
  const char* inject;  // VELDRUN_INJECT, or nullptr to leave it unset
  int devices;         // simulated devices
};

Captured runVeldrun(const Environment& environment) {
  return runInChild([&] {
    // The child has one thread, so changing its environment races with nothing.
    // NOLINTBEGIN(concurrency-mt-unsafe)
    unsetenv("LD_PRELOAD");
    unsetenv("VELDRUN_INJECT");
    if (environment.preload) setenv("LD_PRELOAD", INJECT_LIBRARY, 1);
    if (environment.inject != nullptr) setenv("VELDRUN_INJECT", environment.inject, 1);
    setenv("VELDRUN_SIM_DEVICES", std::to_string(environment.devices).c_str(), 1);
    // NOLINTEND(concurrency-mt-unsafe)
    char* const argv[] = {const_cast<char*>(SIM_VELDRUN), const_cast<char*>("2"), nullptr};
    execv(SIM_VELDRUN, argv);
    std::perror("execv");
    return 127;
  });
}

// Standard output of one simulated device up to and including the line of
// the last order begun.
std::string outputThrough(uint32_t lastOrder) {
  std::string lines =
      "sizeof(double) is 8\ndeviceCount = 1\nTesting device 0: Simulated GPU 0\ndevice = 0\n"
      "freeMem(MB) = 96         iterSize = 512\n";
  for (uint32_t n = 128; n <= lastOrder; n += 128) lines += "Device 0: i = " + std::to_string(n) + "\n";
  return lines;
}

std::string passedOutput() { return outputThrough(384) + "Device 0 completed successfully\nVeldrun PASSED.\n"; }
constexpr const char* FAILED_LINE = "ERROR: Failed with device 0. Veldrun FAILED.\n";

TEST(Interpose, CallsWithoutAMatchingRulePassThrough) {
  const Environment passing[] = {
      {false, nullptr, 1},             // not preloaded at all
      {true, nullptr, 1},              // preloaded, no rule
      {true, "", 1},                   // preloaded, empty rule
      {true, "alloc-fail:B:512", 1},   // an order the device never reaches (the bound is exclusive)
      {true, "wrong-element:640", 1},  // beyond the bound
      {true, "sync-fail:320", 1},      // between two orders of the step
      {true, "dgemm-alpha:192", 1},    // between two orders of the step
  };
  for (const Environment& environment : passing) {
    const char* name = environment.inject != nullptr ? environment.inject : "(unset)";
    const Captured run = runVeldrun(environment);
    EXPECT_EQ(run.status, 0) << name;
    EXPECT_EQ(run.out, passedOutput()) << name;
    EXPECT_EQ(run.err, "") << name;
  }
}

struct FaultCase {
  const char* inject;
  uint32_t order;     // the order at which the run must fail
  const char* value;  // the wrong element's value on standard output, or nullptr
  const char* error;  // the worker's message on standard error
};

TEST(Interpose, EveryRuleFailsTheRunWithVeldrunsMessage) {
  const FaultCase faults[] = {
      {"wrong-element:256:5,7", 256, "516.000000",
       "Error: cublasDgemm returned an invalid result at location 5,7 in iteration 256 on device 0\n"},
      {"wrong-element:384", 384, "772.000000",
       "Error: cublasDgemm returned an invalid result at location 383,383 in iteration 384 on device 0\n"},
      // 2n * (1 + 2^-20) + 3 at n = 384, wrong from the first element on.
      {"dgemm-alpha:384", 384, "771.000732",
       "Error: cublasDgemm returned an invalid result at location 0,0 in iteration 384 on device 0\n"},
      {"alloc-fail:A:256", 256, nullptr, "Error: cublasAlloc(A) failed at i = 256\n"},
      {"alloc-fail:B:384", 384, nullptr, "Error: cublasAlloc(B) failed at i = 384\n"},
      {"alloc-fail:C:128", 128, nullptr, "Error: cublasAlloc(C) failed at i = 128\n"},
      {"sync-fail:256", 256, nullptr, "Error: cudaThreadSynchronize returned unspecified launch failure\n"},
  };
  for (const FaultCase& fault : faults) {
    const Captured run = runVeldrun({true, fault.inject, 1});
    const std::string value = fault.value != nullptr ? std::string(fault.value) + "\n" : "";
    EXPECT_EQ(run.status, 1) << fault.inject;
    std::string expected = outputThrough(fault.order);
    expected += value;
    expected += FAILED_LINE;
    EXPECT_EQ(run.out, expected) << fault.inject;
    EXPECT_EQ(run.err, fault.error) << fault.inject;
  }
}

// Workers run at once, each on its own thread: a rule must strike each at
// its own call, however their calls interleave. A worker that sees the other
// fail first stops without a message.
TEST(Interpose, RulesFollowEachWorkerThread) {
  const FaultCase faults[] = {
      {"alloc-fail:B:384", 384, nullptr, "Error: cublasAlloc(B) failed at i = 384"},
      {"sync-fail:384", 384, nullptr, "Error: cudaThreadSynchronize returned unspecified launch failure"},
  };
  for (const FaultCase& fault : faults) {
    for (int repeat = 0; repeat < 20; ++repeat) {
      const Captured run = runVeldrun({true, fault.inject, 2});
      EXPECT_EQ(run.status, 1) << fault.inject;
      const auto errors = linesOf(run.err);
      EXPECT_FALSE(errors.empty()) << fault.inject;
      for (const std::string& line : errors) EXPECT_EQ(line, fault.error) << fault.inject;
      for (const std::string& line : linesStartingWith(run.out, "Device ")) {
        EXPECT_TRUE(std::regex_match(line, std::regex("Device [01]: i = (128|256|384)"))) << line;
      }
      EXPECT_TRUE(std::regex_search(run.out, std::regex("ERROR: Failed with device [01]\\. Veldrun FAILED\\.\n$")))
          << run.out;
    }
  }
}

TEST(Interpose, ARuleThatDoesNotReadStopsTheRunBeforeVeldrunStarts) {
  const Captured run = runVeldrun({true, "wrong-element:256:5", 1});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "fault_inject: cannot read VELDRUN_INJECT=\"wrong-element:256:5\"; the forms are "
            "wrong-element:ORDER[:J,K] | dgemm-alpha:ORDER | alloc-fail:A|B|C:ORDER | sync-fail:ORDER\n");
}

}  // namespace
