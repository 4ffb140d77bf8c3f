// The command line: arguments to run settings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/run_settings.h"

namespace {

struct ArgumentCase {
  std::vector<std::string> arguments;  // after the program name
  int32_t step;
  int32_t passes;
};

void PrintTo(const ArgumentCase& row, std::ostream* os) {
  for (const std::string& argument : row.arguments) *os << '"' << argument << "\" ";
}

class ArgumentTable : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTable, SetsStepAndPasses) {
  const ArgumentCase& row = GetParam();
  std::vector<std::string> words{"Veldrun"};
  words.insert(words.end(), row.arguments.begin(), row.arguments.end());
  std::vector<char*> argv;
  argv.reserve(words.size());
  for (std::string& word : words) argv.push_back(word.data());
  iterations = DEFAULT_ITERATIONS;
  iterStep = DEFAULT_ITER_STEP;

  readRunSettings(static_cast<int>(argv.size()), argv.data());

  EXPECT_EQ(iterStep, row.step);
  EXPECT_EQ(iterations, row.passes);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, ArgumentTable,
    ::testing::Values(
        // The speed setting alone.
        ArgumentCase{{"0"}, 32, 1}, ArgumentCase{{"1"}, 64, 1}, ArgumentCase{{"2"}, 128, 1}, ArgumentCase{{"7"}, 32, 1},
        ArgumentCase{{"x"}, 32, 1}, ArgumentCase{{""}, 32, 1},
        // Formatted-input rules: blanks, a sign, digits up to the first non-digit.
        ArgumentCase{{"  2"}, 128, 1}, ArgumentCase{{"+1"}, 64, 1}, ArgumentCase{{"2abc"}, 128, 1},
        ArgumentCase{{"- 2"}, 32, 1}, ArgumentCase{{"-1"}, 32, 1},
        // Out of range saturates instead of wrapping back onto 1 or 2.
        ArgumentCase{{"4294967297"}, 32, 1}, ArgumentCase{{"-4294967295"}, 32, 1},
        ArgumentCase{{"99999999999999999999999999"}, 32, 1},
        // Speed and passes.
        ArgumentCase{{"1", "3"}, 64, 3}, ArgumentCase{{"1", "0"}, 64, 0}, ArgumentCase{{"1", "-4"}, 64, -4},
        ArgumentCase{{"2", " 7x"}, 128, 7}, ArgumentCase{{"2", "x"}, 128, 1}, ArgumentCase{{"2", "+"}, 128, 1},
        ArgumentCase{{"0", "99999999999"}, 32, INT32_MAX}, ArgumentCase{{"0", "-99999999999"}, 32, INT32_MIN},
        ArgumentCase{{"0", "2147483647"}, 32, INT32_MAX}, ArgumentCase{{"0", "-2147483648"}, 32, INT32_MIN},
        // Three or more arguments: neither is read.
        ArgumentCase{{"2", "5", "9"}, 32, 1}, ArgumentCase{{"1", "5", "9", "3"}, 32, 1}));

}  // namespace
