// The per-device test worker.
#pragma once

// Worker results, as the thread's pointer-sized result.
inline void* const WORKER_FAILED = reinterpret_cast<void*>(0);     // this device failed
inline void* const WORKER_COMPLETED = reinterpret_cast<void*>(1);  // completed, or stopped for another device

// Thread start routine: tests the device whose ordinal the argument carries
// as an integer value. Returns WORKER_COMPLETED or, after storing the ordinal
// in failedDevice, WORKER_FAILED.
void* deviceTestThread(void* argument);
