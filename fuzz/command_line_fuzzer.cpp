// libFuzzer target over the command line. The input is an argument vector:
// each argument ends at a NUL byte (bytes after the last NUL form one more
// argument), so any count of arguments, empty ones included, can occur.
// Whatever the arguments, the run settings must come out as an independent
// model of the scan predicts: a step of 32, 64 or 128 and either one pass or
// the number scanned, saturated to 32 bits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/run_settings.h"

namespace {

// The model: strtoll reads decimal text by the same formatted-input rules
// (blanks, one sign, digits to the first non-digit) and saturates at the
// 64-bit range, which lies beyond every bound, so clamping its result gives
// the value scanClamped must produce.
bool modelScan(const char* text, int64_t low, int64_t high, int64_t* value) {
  char* end = nullptr;
  const long long scanned = std::strtoll(text, &end, 10);
  if (end == text) return false;
  *value = scanned < low ? low : (scanned > high ? high : scanned);
  return true;
}

[[noreturn]] void fail(const char* what, const std::vector<std::string>& words) {
  std::fprintf(stderr, "%s for %zu arguments:", what, words.size() - 1);
  for (size_t i = 1; i < words.size(); ++i) std::fprintf(stderr, " \"%s\"", words[i].c_str());
  std::fprintf(stderr, "\n");
  std::abort();
}

constexpr int64_t SCAN_LIMIT = int64_t{1} << 62;  // the widest bounds scanClamped accepts

struct Bounds {
  int64_t low;
  int64_t high;
};

// The bounds the command line scans with, and the widest allowed, where the
// scan's own cap on the magnitude decides.
constexpr Bounds BOUNDS[] = {{0, UINT32_MAX}, {INT32_MIN, INT32_MAX}, {-SCAN_LIMIT, SCAN_LIMIT}};

void checkScan(const std::string& word, const std::vector<std::string>& words) {
  for (const Bounds& bounds : BOUNDS) {
    // A scan that converts nothing must leave the value alone, as the model
    // does.
    constexpr int64_t UNTOUCHED = 0x5eed;
    int64_t scanned = UNTOUCHED;
    int64_t modelled = UNTOUCHED;
    const bool converted = scanClamped(word.c_str(), bounds.low, bounds.high, &scanned);
    const bool modelConverted = modelScan(word.c_str(), bounds.low, bounds.high, &modelled);
    if (converted != modelConverted) fail("scanClamped disagrees on whether a number converts", words);
    if (scanned != modelled) fail("scanClamped scans another value", words);
    if (scanned < bounds.low && converted) fail("scanClamped goes below its bound", words);
    if (scanned > bounds.high && converted) fail("scanClamped goes above its bound", words);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words{"Veldrun"};
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  if (!word.empty()) words.push_back(word);

  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& each : words) argv.push_back(each.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  iterations = DEFAULT_ITERATIONS;
  iterStep = DEFAULT_ITER_STEP;
  readRunSettings(argc, argv.data());

  int64_t speed = 0;
  int64_t passes = DEFAULT_ITERATIONS;
  if (argc == 2 || argc == 3) modelScan(words[1].c_str(), 0, UINT32_MAX, &speed);
  if (argc == 3) modelScan(words[2].c_str(), INT32_MIN, INT32_MAX, &passes);
  const int32_t step = speed == 1 ? 64 : (speed == 2 ? 128 : DEFAULT_ITER_STEP);

  if (iterStep != 32 && iterStep != 64 && iterStep != 128) fail("the step is none of 32, 64 and 128", words);
  if (iterStep != step) fail("the speed setting selects the wrong step", words);
  if (iterations != passes) fail("the number of passes is not the one scanned", words);
  if (stepForSpeed(static_cast<uint32_t>(speed)) != step) fail("stepForSpeed disagrees with the table", words);

  for (size_t i = 1; i < words.size(); ++i) checkScan(words[i], words);
  return 0;
}
