// The command line "<speed setting> <iterations>" and the run settings it
// selects.
#pragma once

#include <cstdint>

// Scans text as formatted input reads a decimal integer: leading white space
// is skipped, one optional sign is accepted, and the digits run up to the
// first non-digit. A value beyond [low, high] saturates at the nearer end
// (the bounds lie within +-2^62).
// Returns false, leaving *value alone, when no digit converts.
bool scanClamped(const char* text, int64_t low, int64_t high, int64_t* value);

// The step between matrix orders for a speed setting: 1 gives 64, 2 gives
// 128, and anything else the default of 32.
int32_t stepForSpeed(uint32_t speed);

// Sets iterations and iterStep from the arguments. With one or two arguments
// the first is the speed setting and the second the number of passes; with
// three or more neither is read and both keep their defaults.
void readRunSettings(int argc, char* const* argv);

// Writes the usage text to standard error.
void printUsage(const char* programName);
