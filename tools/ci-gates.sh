#!/usr/bin/env bash
# Reliability gates, run by CI after the plain test suite: the format check,
# the test suite under AddressSanitizer (with UndefinedBehaviorSanitizer and
# leak detection) and under ThreadSanitizer, clang-tidy and cppcheck over the
# host sources, and a bounded fuzzing run over the command line. Any finding
# fails the script. Each gate prints how long it took.
#
# Needs clang-format-14, clang-tidy-14, clang++-14 with its fuzzer runtime
# and cppcheck; .ci/run installs them.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
script_start=$SECONDS

gate() {
  local name=$1
  shift
  local start=$SECONDS
  echo "=== gate: $name"
  "$@"
  echo "=== gate: $name passed in $((SECONDS - start)) s"
}

host_sources() {
  find src tests fuzz tools bench -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.cu' \) -print0
}

check_format() {
  host_sources | xargs -0 clang-format-14 --dry-run -Werror
}

sanitized_suite() {
  local preset=$1
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
}

build_fuzzer() {
  cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
  cmake --build build-fuzz -j "$jobs"
}

# The compilation databases of the asan build (program, simulated platform
# and tests) and of the fuzzer build; the CUDA file is left out, since clang
# cannot take nvcc's command line. Warning options only GCC knows are let pass.
run_clang_tidy() {
  local root
  root=$(pwd)
  run-clang-tidy-14 -clang-tidy-binary clang-tidy-14 -extra-arg=-Wno-unknown-warning-option -p build-asan \
    -j "$jobs" -quiet "^$root/(src|tests|tools|bench)/.*\\.cpp\$"
  run-clang-tidy-14 -clang-tidy-binary clang-tidy-14 -extra-arg=-Wno-unknown-warning-option -p build-fuzz \
    -j "$jobs" -quiet "^$root/fuzz/.*\\.cpp\$"
}

# cppcheck models the standard library and POSIX from its own configuration
# and parses no system header, so the missing system headers it mentions are
# expected. useStlAlgorithm is a style preference: it asks for std::transform
# and std::copy_if in place of one-line loops that build an argument vector
# or pick lines, which read more plainly as they are.
run_cppcheck() {
  local database
  for database in build-asan/compile_commands.json build-fuzz/compile_commands.json; do
    cppcheck --project="$database" --library=posix,googletest --std=c++17 \
      --enable=warning,style,performance,portability,missingInclude --inconclusive \
      --inline-suppr --suppress=missingIncludeSystem --suppress=useStlAlgorithm \
      --error-exitcode=1 --quiet
  done
}

# At most two million inputs or a minute, whichever ends first; the corpus
# starts from the checked-in seeds and grows in the build folder only.
run_fuzzer() {
  rm -rf build-fuzz/corpus
  mkdir -p build-fuzz/corpus
  build-fuzz/command_line_fuzzer -runs=2000000 -max_total_time=60 -max_len=512 \
    -dict=fuzz/command_line.dict -artifact_prefix=build-fuzz/ -print_final_stats=1 \
    build-fuzz/corpus fuzz/seeds
}

gate "clang-format" check_format
gate "asan" sanitized_suite asan
gate "tsan" sanitized_suite tsan
gate "fuzzer build" build_fuzzer
gate "clang-tidy" run_clang_tidy
gate "cppcheck" run_cppcheck
gate "command-line fuzzer" run_fuzzer
echo "=== all gates passed in $((SECONDS - script_start)) s"
