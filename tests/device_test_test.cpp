// The per-device worker against the simulated platform.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "capture.h"
#include "device/device_test.h"
#include "sim_fixture.h"

namespace {

// The ordinal travels as the thread's pointer-sized argument, by value.
void* deviceArgument(int device) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(device));  // NOLINT(performance-no-int-to-ptr)
}

struct WorkerRun {
  Captured streams;
  void* result;
};

WorkerRun runWorker(int device) {
  void* result = nullptr;
  const Captured streams = runHere([&] {
    result = deviceTestThread(deviceArgument(device));
    return 0;
  });
  return WorkerRun{streams, result};
}

std::string startUpLines(int device, uint64_t freeMem, uint32_t bound) {
  return "device = " + std::to_string(device) + "\nfreeMem(MB) = " + std::to_string(freeMem / 1048576) +
         "         iterSize = " + std::to_string(bound) + "\n";
}

std::string orderLines(int device, const std::vector<uint32_t>& orders) {
  std::string lines;
  for (const uint32_t n : orders) lines += "Device " + std::to_string(device) + ": i = " + std::to_string(n) + "\n";
  return lines;
}

struct PassCase {
  int32_t step;
  int32_t passes;
  uint32_t bound;
  std::vector<uint32_t> orders;
};

void PrintTo(const PassCase& row, std::ostream* os) {
  *os << "step " << row.step << ", " << row.passes << " passes, bound " << row.bound;
}

class PassTable : public SimTest, public ::testing::WithParamInterface<PassCase> {};

TEST_P(PassTable, RunsEveryOrderOfEveryPassAndReleasesItsBuffers) {
  const PassCase& row = GetParam();
  const uint64_t freeMem = freeMemForBound(row.bound);
  ASSERT_EQ(iterSizeFor(freeMem, row.step), row.bound);
  simAddDevice("Sim A", 8, 0, freeMem);
  iterStep = row.step;
  iterations = row.passes;

  const WorkerRun run = runWorker(0);

  EXPECT_EQ(run.result, WORKER_COMPLETED);
  EXPECT_EQ(run.streams.out,
            startUpLines(0, freeMem, row.bound) + orderLines(0, row.orders) + "Device 0 completed successfully\n");
  EXPECT_EQ(run.streams.err, "");
  EXPECT_EQ(failedDevice.load(), NO_FAILED_DEVICE);
  const SimDeviceCounts counts = simCounts(0);
  EXPECT_EQ(counts.orders, row.orders);
  EXPECT_EQ(counts.liveAllocations, 0);
  EXPECT_EQ(counts.peakAllocations, row.orders.empty() ? 0 : 3);
  EXPECT_EQ(counts.misuses, 0);
}

INSTANTIATE_TEST_SUITE_P(Worker, PassTable,
                         ::testing::Values(PassCase{32, 1, 384, {128, 160, 192, 224, 256, 288, 320, 352}},
                                           PassCase{64, 2, 384, {128, 192, 256, 320, 128, 192, 256, 320}},
                                           PassCase{128, 3, 512, {128, 256, 384, 128, 256, 384, 128, 256, 384}},
                                           PassCase{32, 2, 128, {}},  // a bound of 128 leaves every pass empty
                                           PassCase{64, 0, 384, {}},  // no pass at all
                                           PassCase{64, -4, 384, {}}));

struct FaultCase {
  const char* name;
  SimCall call;
  int allocation;
  std::string message;
};

void PrintTo(const FaultCase& row, std::ostream* os) { *os << row.name; }

class FaultTable : public SimTest, public ::testing::WithParamInterface<FaultCase> {};

// Every examined status fails the device with its one message, at the order
// where it strikes: the order before it passed.
TEST_P(FaultTable, FailsTheDeviceWithItsMessage) {
  const FaultCase& row = GetParam();
  const uint64_t freeMem = freeMemForBound(384);
  simAddDevice("Sim A", 8, 0, freeMem);
  simAddDevice("Sim B", 9, 0, freeMem);
  const bool atStartUp = row.call == SimCall::SetDevice || row.call == SimCall::CublasCreate ||
                         row.call == SimCall::EntryPoint || row.call == SimCall::MemGetInfo;
  simInjectFault(row.call, 1, atStartUp ? SIM_ANY_ORDER : 160, row.allocation);

  const WorkerRun run = runWorker(1);

  EXPECT_EQ(run.result, WORKER_FAILED);
  EXPECT_EQ(failedDevice.load(), 1);
  EXPECT_EQ(run.streams.err, row.message);
  EXPECT_EQ(run.streams.out, atStartUp ? "device = 1\n" : startUpLines(1, freeMem, 384) + orderLines(1, {128, 160}));
  EXPECT_EQ(simCounts(1).misuses, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Worker, FaultTable,
    ::testing::Values(
        FaultCase{"SetDevice", SimCall::SetDevice, 0, "cudaSetDevice(1) failed\n"},
        FaultCase{"CublasCreate", SimCall::CublasCreate, 0, "Error: cublasInit failed from device 1\n"},
        FaultCase{"EntryPoint", SimCall::EntryPoint, 0, "Error: cuMemGetInfo_v2 failed from device 1\n"},
        FaultCase{"MemGetInfo", SimCall::MemGetInfo, 0, "Error: cuMemGetInfo_v2 failed from device 1\n"},
        FaultCase{"HostMalloc", SimCall::HostMalloc, 0, "ERROR: malloc of c_h failed. Aborting.\n"},
        FaultCase{"MallocA", SimCall::Malloc, 0, "Error: cublasAlloc(A) failed at i = 160\n"},
        FaultCase{"MallocB", SimCall::Malloc, 1, "Error: cublasAlloc(B) failed at i = 160\n"},
        FaultCase{"MallocC", SimCall::Malloc, 2, "Error: cublasAlloc(C) failed at i = 160\n"},
        FaultCase{"Launch", SimCall::Launch, 0,
                  "Error: cudaThreadSynchronize returned no kernel image is available for execution on the device\n"},
        FaultCase{"Synchronize", SimCall::Synchronize, 0,
                  "Error: cudaThreadSynchronize returned unspecified launch failure\n"},
        FaultCase{"Dgemm", SimCall::Dgemm, 0, "Error: cublasDgemm failed!\n"},
        FaultCase{"Memcpy", SimCall::Memcpy, 0,
                  "Error: cudaMemcpy(C) failed at i = 160: unspecified launch failure\n"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

struct WrongElementCase {
  const char* name;
  uint64_t index;  // column-major, as the product lies in device memory
  double value;
  std::string location;
  std::string printed;
};

void PrintTo(const WrongElementCase& row, std::ostream* os) { *os << row.name; }

class WrongElementTable : public SimTest, public ::testing::WithParamInterface<WrongElementCase> {};

TEST_P(WrongElementTable, ReportsLocationAndValue) {
  const WrongElementCase& row = GetParam();
  const uint64_t freeMem = freeMemForBound(384);
  simAddDevice("Sim A", 8, 0, freeMem);
  simInjectWrongElement(0, 160, row.index, row.value);

  const WorkerRun run = runWorker(0);

  EXPECT_EQ(run.result, WORKER_FAILED);
  EXPECT_EQ(failedDevice.load(), 0);
  EXPECT_EQ(run.streams.err, "Error: cublasDgemm returned an invalid result at location " + row.location +
                                 " in iteration 160 on device 0\n");
  EXPECT_EQ(run.streams.out, startUpLines(0, freeMem, 384) + orderLines(0, {128, 160}) + row.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Worker, WrongElementTable,
    ::testing::Values(WrongElementCase{"First", 0, 0.0, "0,0", "0.000000\n"},
                      // Element j*n + k of the host copy is reported as (j, k).
                      WrongElementCase{"Inside", 5 * 160 + 7, 322.5, "5,7", "322.500000\n"},
                      WrongElementCase{"Last", 160 * 160 - 1, -1.0, "159,159", "-1.000000\n"},
                      WrongElementCase{"OneUlp", 42, std::nextafter(323.0, 0.0), "0,42", "323.000000\n"},
                      WrongElementCase{"NaN", uint64_t{3} * 160, std::numeric_limits<double>::quiet_NaN(), "3,0",
                                       "nan\n"}),
    [](const ::testing::TestParamInfo<WrongElementCase>& info) { return std::string(info.param.name); });

TEST_F(SimTest, StopsWithoutPrintingOnceAnotherDeviceHasFailed) {
  const uint64_t freeMem = freeMemForBound(384);
  simAddDevice("Sim A", 8, 0, freeMem);
  failedDevice.store(3);

  const WorkerRun run = runWorker(0);

  EXPECT_EQ(run.result, WORKER_COMPLETED);
  EXPECT_EQ(run.streams.out, startUpLines(0, freeMem, 384));
  EXPECT_EQ(run.streams.err, "");
  EXPECT_EQ(failedDevice.load(), 3);
  EXPECT_EQ(simCounts(0).dgemms, 0);
}

// Below the reserve the bound wraps, capped where n*n still fits 32 bits;
// the orders then climb until the device runs out of memory.
TEST_F(SimTest, FreeMemoryBelowTheReserveFailsAtAllocation) {
  const uint64_t freeMem = uint64_t{10} << 20;
  simAddDevice("Sim A", 8, 0, freeMem);
  iterStep = 128;

  const WorkerRun run = runWorker(0);

  EXPECT_EQ(run.result, WORKER_FAILED);
  EXPECT_EQ(run.streams.out, startUpLines(0, freeMem, ORDER_LIMIT) + orderLines(0, {128, 256, 384, 512, 640, 768}));
  EXPECT_EQ(run.streams.err, "Error: cublasAlloc(C) failed at i = 768\n");
  EXPECT_EQ(simCounts(0).orders, (std::vector<uint32_t>{128, 256, 384, 512, 640}));
}

}  // namespace
