// Injectable failures of calls the program makes outside the CUDA platform.
// The test program links with --wrap for each, so that the program's calls
// arrive here and, unless a fault is armed, go on to the real function.
#include <pthread.h>

#include <cerrno>
#include <cstdint>

#include "sim_state.h"

// The linker's --wrap fixes the names __wrap_NAME and __real_NAME, reserved
// as they are.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

extern "C" int __real_pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                                     void* argument);

// The argument of a worker thread is its device ordinal.
extern "C" int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                                     void* argument) {
  {
    SimState& state = simState();
    std::lock_guard<std::mutex> guard(state.lock);
    const auto device = static_cast<int>(reinterpret_cast<uintptr_t>(argument));
    if (simFaultArmed(SimCall::ThreadCreate, device)) return EAGAIN;
  }
  return __real_pthread_create(thread, attributes, start, argument);
}

// allocateHostProduct(uint64_t), by its mangled name.
extern "C" double* __real__Z19allocateHostProductm(uint64_t bytes);

extern "C" double* __wrap__Z19allocateHostProductm(uint64_t bytes) {
  {
    SimState& state = simState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (simFaultArmed(SimCall::HostMalloc, simCurrentDevice(), simOrderOfBytes(bytes))) return nullptr;
  }
  return __real__Z19allocateHostProductm(bytes);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
