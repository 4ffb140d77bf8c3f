// Finding the CUDA devices that can do double-precision arithmetic.
#pragma once

#include <cstdint>

constexpr uint32_t MAX_SELECTED_DEVICES = 256;  // entries in selectedDevices

extern int32_t deviceCount;                             // CUDA devices the runtime reports
extern uint32_t selectedDevices[MAX_SELECTED_DEVICES];  // qualifying ordinals, ascending
extern uint32_t selectedCount;                          // entries used in selectedDevices

// Compute capability 1.3 and above qualifies; 9999.9999 marks the emulation
// device, which never does.
bool deviceQualifies(int32_t major, int32_t minor);

// Prints every device and appends the qualifying ones to selectedDevices.
// Ends the process with status 1 when a device's properties cannot be read,
// when no device qualifies, or when more qualify than the table holds.
void selectDevices();
