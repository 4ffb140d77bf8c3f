// The whole program against the simulated platform: each run is a child
// process, since most outcomes end the process.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "capture.h"
#include "driver/veldrun_main.h"
#include "sim_fixture.h"

namespace {

Captured runVeldrun(std::vector<std::string> arguments, unsigned timeoutSeconds = 120) {
  return runInChild(
      [&] {
        std::vector<char*> argv;
        argv.reserve(arguments.size() + 1);
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        return veldrunMain(static_cast<int>(argv.size()) - 1, argv.data());
      },
      timeoutSeconds);
}

// Waits until condition holds. Used in hooks to put the steps of two
// workers in a fixed order; a run that never gets there is ended by the
// child's time limit.
void awaitCondition(const std::function<bool()>& condition) {
  while (!condition()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool anotherDeviceFailed() { return failedDevice.load() != NO_FAILED_DEVICE; }

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const char* const USAGE =
    "usage: Veldrun <speed setting> <iterations>\nSpeed settings:\n0 = iterate by 32 (default)\n1 = iterate by "
    "64\n2 = iterate by 128 (fastest)\n";

using Veldrun = SimTest;

TEST_F(Veldrun, WithoutArgumentsPrintsOnlyTheUsage) {
  simAddDevice("Sim A", 8, 0, freeMemForBound(256));
  for (const auto& arguments : {std::vector<std::string>{"Veldrun"}, std::vector<std::string>{}}) {
    const Captured run = runVeldrun(arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, USAGE);
  }
}

struct SelectionCase {
  const char* name;
  std::vector<std::pair<int, int>> capabilities;
  bool countFails;
  int propertiesFailAt;  // -1: none
  std::string out;
};

void PrintTo(const SelectionCase& row, std::ostream* os) { *os << row.name; }

class Selection : public SimTest, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selection, EndsWithItsMessageAndStatus1) {
  const SelectionCase& row = GetParam();
  for (const auto& capability : row.capabilities) {
    simAddDevice("GPU " + std::to_string(capability.first) + "." + std::to_string(capability.second), capability.first,
                 capability.second, freeMemForBound(256));
  }
  if (row.countFails) simInjectFault(SimCall::DeviceCount, 0);
  if (row.propertiesFailAt >= 0) simInjectFault(SimCall::DeviceProperties, row.propertiesFailAt);

  const Captured run = runVeldrun({"Veldrun", "2"});

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "sizeof(double) is 8\n" + row.out);
  EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Veldrun, Selection,
    ::testing::Values(
        SelectionCase{"OnlyOldDevices",
                      {{1, 0}, {1, 2}, {9999, 9999}},
                      false,
                      -1,
                      "deviceCount = 3\nTesting device 0: GPU 1.0\nTesting device 1: GPU 1.2\nTesting device 2: GPU "
                      "9999.9999\nNo suitable NVIDIA GPUs found. Aborting...\n"},
        SelectionCase{"NoDevice", {}, false, -1, "deviceCount = 0\nNo suitable NVIDIA GPUs found. Aborting...\n"},
        SelectionCase{
            "CountQueryFails", {{8, 0}}, true, -1, "deviceCount = 0\nNo suitable NVIDIA GPUs found. Aborting...\n"},
        SelectionCase{"PropertiesFail",
                      {{8, 0}, {8, 0}},
                      false,
                      1,
                      "deviceCount = 2\nTesting device 0: GPU 8.0\nCould not retrieve properties of device 1\n"}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return std::string(info.param.name); });

TEST_F(Veldrun, RefusesMoreDevicesThanItCanTest) {
  for (int i = 0; i < 257; ++i) simAddDevice("Sim", 8, 0, freeMemForBound(128));

  const Captured run = runVeldrun({"Veldrun", "2"});

  EXPECT_EQ(run.status, 1);
  const std::vector<std::string> lines = linesOf(run.out);
  ASSERT_EQ(lines.size(), 2u + 257u + 1u);
  EXPECT_EQ(lines[258], "Testing device 256: Sim");
  EXPECT_EQ(lines.back(), "ERROR: More than 256 suitable NVIDIA GPUs found; device 256 cannot be tested. Aborting...");
}

TEST_F(Veldrun, PassesWhenEveryDevicePasses) {
  simAddDevice("Sim A", 8, 0, freeMemForBound(384));
  simAddDevice("Old", 1, 1, freeMemForBound(384));
  simAddDevice("Sim C", 9, 0, freeMemForBound(256));

  const Captured run = runVeldrun({"Veldrun", "2", "2"});

  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = linesOf(run.out);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
            (std::vector<std::string>{"sizeof(double) is 8", "deviceCount = 3", "Testing device 0: Sim A",
                                      "Testing device 1: Old", "Testing device 2: Sim C"}));
  EXPECT_EQ(linesStartingWith(run.out, "Device 0"),
            (std::vector<std::string>{"Device 0: i = 128", "Device 0: i = 256", "Device 0: i = 128",
                                      "Device 0: i = 256", "Device 0 completed successfully"}));
  EXPECT_EQ(linesStartingWith(run.out, "Device 2"),
            (std::vector<std::string>{"Device 2: i = 128", "Device 2: i = 128", "Device 2 completed successfully"}));
  EXPECT_TRUE(linesStartingWith(run.out, "Device 1").empty());
  EXPECT_EQ(lines.back(), "Veldrun PASSED.");
}

TEST_F(Veldrun, NoPassesIsAPass) {
  simAddDevice("Sim A", 8, 0, freeMemForBound(384));
  simAddDevice("Sim B", 8, 0, freeMemForBound(384));
  for (const char* passes : {"0", "-4"}) {
    const Captured run = runVeldrun({"Veldrun", "1", passes});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(linesOf(run.out), "Device 0 completed successfully"));
    EXPECT_TRUE(contains(linesOf(run.out), "Device 1 completed successfully"));
    EXPECT_TRUE(linesStartingWith(run.out, "Device 0: i").empty());
    EXPECT_EQ(linesOf(run.out).back(), "Veldrun PASSED.");
  }
}

// Two GPUs at speed 1 with 2 passes; device 1 computes one wrong element at
// order 640, and device 0, still busy, stops at its next order.
TEST_F(Veldrun, OneWrongElementFailsTheRunAndStopsTheOtherDevice) {
  simAddDevice("Sim A", 8, 0, freeMemForBound(2048));
  simAddDevice("Sim B", 8, 0, freeMemForBound(1024));
  // Device 0's first product finishes only once device 1 has failed.
  simSetDgemmHook(0, [] { awaitCondition(anotherDeviceFailed); });
  simInjectWrongElement(1, 640, 17 * 640 + 3, 1282.5);

  const Captured run = runVeldrun({"Veldrun", "1", "2"});

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Error: cublasDgemm returned an invalid result at location 17,3 in iteration 640 on device 1\n");
  const std::vector<std::string> lines = linesOf(run.out);
  EXPECT_TRUE(contains(lines, "1282.500000"));
  EXPECT_EQ(linesStartingWith(run.out, "Device 1").back(), "Device 1: i = 640");
  EXPECT_EQ(linesStartingWith(run.out, "Device 0"), std::vector<std::string>{"Device 0: i = 128"});
  EXPECT_EQ(lines.back(), "ERROR: Failed with device 1. Veldrun FAILED.");
}

// Device 1 fails first in time, device 0 later; device 0 is joined first,
// and the run names the device that stored its ordinal last.
TEST_F(Veldrun, TheFirstWorkerIsExaminedFirst) {
  simAddDevice("Sim A", 8, 0, freeMemForBound(384));
  simAddDevice("Sim B", 8, 0, freeMemForBound(384));
  // Device 1's product fails once device 0 is inside its own, which then
  // finishes, wrong, after device 1 has stored its ordinal.
  simSetDgemmHook(1, [] { awaitCondition([] { return simCounts(0).dgemmsEntered > 0; }); });
  simSetDgemmHook(0, [] { awaitCondition([] { return failedDevice.load() == 1; }); });
  simInjectWrongElement(0, 128, 0, 0.0);
  simInjectFault(SimCall::Dgemm, 1, 128);

  const Captured run = runVeldrun({"Veldrun", "2"});

  EXPECT_EQ(run.status, 1);
  const std::vector<std::string> errors = linesOf(run.err);
  EXPECT_EQ(errors, (std::vector<std::string>{
                        "Error: cublasDgemm failed!",
                        "Error: cublasDgemm returned an invalid result at location 0,0 in iteration 128 on device 0"}));
  EXPECT_EQ(linesOf(run.out).back(), "ERROR: Failed with device 0. Veldrun FAILED.");
}

TEST_F(Veldrun, AWorkerThatCannotStartFailsItsDevice) {
  simAddDevice("Sim A", 8, 0, freeMemForBound(384));
  simAddDevice("Sim B", 8, 0, freeMemForBound(384));
  simInjectFault(SimCall::ThreadCreate, 1);

  const Captured run = runVeldrun({"Veldrun", "2"});

  EXPECT_EQ(run.status, 1);
  const std::vector<std::string> lines = linesOf(run.out);
  EXPECT_TRUE(contains(lines, "ERROR: Could not start the test thread for device 1: Resource temporarily unavailable"));
  EXPECT_TRUE(linesStartingWith(run.out, "device = 1").empty());
  EXPECT_EQ(lines.back(), "ERROR: Failed with device 1. Veldrun FAILED.");
}

// The FAILED exit does not wait for a worker stuck inside a library call,
// and every line printed before it reaches its stream.
TEST_F(Veldrun, FailsPromptlyWhileAnotherWorkerIsStuck) {
  simAddDevice("Sim A", 8, 0, freeMemForBound(384));
  simAddDevice("Sim B", 8, 0, freeMemForBound(384));
  // Device 0 fails only once device 1 is stuck inside its first product.
  simSetDgemmHook(0, [] { awaitCondition([] { return simCounts(1).dgemmsEntered > 0; }); });
  simInjectFault(SimCall::Synchronize, 0, 160);
  simHangDgemm(1);

  const Captured run = runVeldrun({"Veldrun", "0"}, 60);

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Error: cudaThreadSynchronize returned unspecified launch failure\n");
  const std::vector<std::string> lines = linesOf(run.out);
  EXPECT_TRUE(contains(lines, "Device 1: i = 128"));
  EXPECT_EQ(lines.back(), "ERROR: Failed with device 0. Veldrun FAILED.");
}

// A run killed while a GPU hangs still shows how far it got.
TEST_F(Veldrun, ProgressIsVisibleWhenARunIsKilled) {
  simAddDevice("Sim A", 8, 0, freeMemForBound(384));
  simHangDgemm(0);

  const Captured run = runVeldrun({"Veldrun", "0"}, 3);

  EXPECT_EQ(run.status, 128 + SIGALRM);
  EXPECT_EQ(linesOf(run.out).back(), "Device 0: i = 128");
}

}  // namespace
