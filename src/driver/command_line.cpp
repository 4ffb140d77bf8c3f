// Reading the command line into the run settings.
#include "command_line.h"

#include <cctype>
#include <cstdio>

#include "run_settings.h"

bool scanClamped(const char* text, int64_t low, int64_t high, int64_t* value) {
  const char* cursor = text;
  while (std::isspace(static_cast<unsigned char>(*cursor)) != 0) ++cursor;
  const bool negative = *cursor == '-';
  if (*cursor == '-' || *cursor == '+') ++cursor;
  if (std::isdigit(static_cast<unsigned char>(*cursor)) == 0) return false;

  // The magnitude stops growing at a cap far beyond any bound a caller
  // passes, so a long run of digits cannot overflow; the digits are still
  // consumed, as formatted input does.
  constexpr uint64_t MAGNITUDE_CAP = uint64_t{1} << 62;
  uint64_t magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*cursor)) != 0; ++cursor) {
    const auto digit = static_cast<uint64_t>(*cursor - '0');
    magnitude = magnitude > (MAGNITUDE_CAP - digit) / 10 ? MAGNITUDE_CAP : magnitude * 10 + digit;
  }
  const int64_t scanned = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  *value = scanned < low ? low : (scanned > high ? high : scanned);
  return true;
}

int32_t stepForSpeed(uint32_t speed) {
  switch (speed) {
    case 1:
      return 64;
    case 2:
      return 128;
    default:
      return DEFAULT_ITER_STEP;
  }
}

void readRunSettings(int argc, char* const* argv) {
  if (argc == 3) {
    int64_t passes = 0;
    if (scanClamped(argv[2], INT32_MIN, INT32_MAX, &passes)) iterations = static_cast<int32_t>(passes);
  }
  if (argc == 2 || argc == 3) {
    int64_t speed = 0;
    scanClamped(argv[1], 0, UINT32_MAX, &speed);
    iterStep = stepForSpeed(static_cast<uint32_t>(speed));
  }
}

void printUsage(const char* programName) {
  std::fprintf(stderr,
               "usage: %s <speed setting> <iterations>\nSpeed settings:\n0 = iterate by 32 (default)\n1 = iterate by "
               "64\n2 = iterate by 128 (fastest)\n",
               programName);
}
