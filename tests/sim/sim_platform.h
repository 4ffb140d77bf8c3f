// Control of the simulated GPU platform that stands in for the CUDA runtime,
// the driver's free-memory query, cuBLAS and the fill launch in the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The platform calls whose failure can be injected.
enum class SimCall {
  DeviceCount,       // cudaGetDeviceCount fails without storing a count
  DeviceProperties,  // cudaGetDeviceProperties
  SetDevice,         // cudaSetDevice
  CublasCreate,      // cublasCreate
  EntryPoint,        // the runtime's lookup of cuMemGetInfo
  MemGetInfo,        // cuMemGetInfo_v2
  Malloc,            // cudaMalloc; allocation picks A (0), B (1) or C (2)
  Launch,            // the fill launch: the kernel image cannot run on the device
  Synchronize,       // cudaDeviceSynchronize
  Dgemm,             // cublasDgemm
  Memcpy,            // cudaMemcpy
  ThreadCreate,      // pthread_create for the worker of the device
  HostMalloc,        // the host buffer that receives the product
};

constexpr uint32_t SIM_ANY_ORDER = 0;  // a fault that strikes at every order

// Forgets every device, fault, delay and count.
void simReset();

// Adds a device and returns its ordinal. freeMem is what the free-memory
// query reports; it is also the capacity of the device's memory.
int simAddDevice(const std::string& name, int major, int minor, uint64_t freeMem);

// Makes call fail on device at order (SIM_ANY_ORDER: every order). For
// Malloc, allocation picks which of A, B and C.
void simInjectFault(SimCall call, int device, uint32_t order = SIM_ANY_ORDER, int allocation = 0);

// Replaces element index (column-major, as cuBLAS stores it) of the product
// computed on device at order with value.
void simInjectWrongElement(int device, uint32_t order, uint64_t index, double value);

// Runs hook at the start of every DGEMM on device, before anything else the
// call does (a failure injected into it included). A hook that waits makes a
// slow device, or orders one device's steps after another's.
void simSetDgemmHook(int device, std::function<void()> hook);

// Makes every DGEMM on device block until the process ends.
void simHangDgemm(int device);

struct SimDeviceCounts {
  int liveAllocations;           // device buffers allocated and not yet freed
  int peakAllocations;           // the most buffers live at once
  int dgemmsEntered;             // DGEMM calls begun, failing ones included
  int dgemms;                    // products computed
  int misuses;                   // calls with arguments the program must never pass
  std::vector<uint32_t> orders;  // order of every product, in sequence
};
SimDeviceCounts simCounts(int device);
