// Free device memory, from the CUDA driver.
#pragma once

#include <cstdint>

// Stores the free bytes of the calling thread's current context in
// *freeBytes. Returns false when the driver query is unavailable or fails.
bool queryFreeMemory(uint64_t* freeBytes);
