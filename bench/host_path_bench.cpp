// Times the host side of one matrix order without a GPU: a fresh buffer, the
// landing of n*n doubles in it (a memcpy from a warm source stands in for the
// copy back from the device), the exact check and the release.
//
// Three ways, each the median of several repetitions:
// - plain: malloc, memcpy, an element-by-element loop that stops at the first
//   mismatch, free;
// - chosen: allocateHostProduct, memcpy, findFirstMismatch,
//   releaseHostProduct, as the worker does it;
// - floor: what no implementation can beat on this machine, the landing alone
//   (the same memcpy into fresh memory backed by huge pages where the system
//   offers them, mapping and unmapping included) plus one vectorised read
//   pass over warm memory.
// Times are the thread's CPU seconds, and every timed step starts right
// after a buffer of the same size went back to the kernel, as each order
// does in the worker. After the benchmark's own report it prints a table
// and, as its last line, the chosen way's total time over all orders divided
// by the floor's.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/product_check.h"

constexpr uint32_t ORDERS[] = {2048, 8192, 16384};  // 32 MiB, 512 MiB and 2 GiB buffers
constexpr int ORDER_COUNT = sizeof(ORDERS) / sizeof(ORDERS[0]);
constexpr int REPETITIONS = 9;  // per way and order; the median is reported

enum Way { PLAIN, CHOSEN, FLOOR_LANDING, FLOOR_READ, WAY_COUNT };
const char* const WAY_NAMES[WAY_COUNT] = {"plain", "chosen", "floor_landing", "floor_read"};

// Seconds of every repetition, by way and order.
static std::vector<double> samples[WAY_COUNT][ORDER_COUNT];

static bool measurementFailed = false;  // a way could not be measured at some order

// The warm source of the landing: n*n elements of the expected value, kept
// for one order at a time so that at most two 2 GiB buffers exist at once.
static std::vector<double> source;
static uint32_t sourceOrder = 0;

static double expectedFor(uint32_t n) { return 2.0 * n + 3.0; }

static const double* warmSource(uint32_t n) {
  if (sourceOrder != n) {
    source.clear();
    source.shrink_to_fit();
    source.assign(static_cast<uint64_t>(n) * n, expectedFor(n));
    sourceOrder = n;
  }
  return source.data();
}

// The calling thread's CPU time, user and system together: everything timed
// here, the kernel's page faults and unmapping included, runs on this thread,
// so on an idle machine this is the wall time, and on a shared one it leaves
// out the time the thread waited for a core.
static double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The check as a literal loop: it exits at the first mismatch, so the
// compiler keeps it scalar.
__attribute__((noinline)) static bool plainMismatch(const double* c_h, uint32_t n, double expected, uint32_t* j,
                                                    uint32_t* k) {
  for (uint32_t row = 0; row < n; ++row) {
    for (uint32_t column = 0; column < n; ++column) {
      if (!(c_h[row * n + column] == expected)) {
        *j = row;
        *k = column;
        return true;
      }
    }
  }
  return false;
}

// Fresh memory for the floor's landing, aligned to and advised for huge pages.
static void* mapHuge(uint64_t bytes, void** mapping, uint64_t* mappingBytes) {
  *mappingBytes = bytes + HUGE_PAGE_BYTES;
  // -1: an anonymous mapping takes no file, which cppcheck's model of mmap
  // does not know.
  // cppcheck-suppress invalidFunctionArg
  *mapping = mmap(nullptr, *mappingBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (*mapping == MAP_FAILED) return nullptr;
  const uintptr_t address = reinterpret_cast<uintptr_t>(*mapping);
  char* const start = static_cast<char*>(*mapping) + (HUGE_PAGE_BYTES - address % HUGE_PAGE_BYTES) % HUGE_PAGE_BYTES;
  madvise(start, bytes, MADV_HUGEPAGE);
  return start;
}

typedef double Lanes __attribute__((vector_size(16)));

// One read pass at the machine's best rate. Eight independent vector sums:
// with fewer, the latency of the additions, not memory, sets the pace.
constexpr uint64_t SUMS = 8;
constexpr uint64_t SUM_STRIDE = SUMS * sizeof(Lanes) / sizeof(double);  // elements per round

static double sumOf(const double* values, uint64_t count) {
  Lanes sums[SUMS] = {};
  uint64_t index = 0;
  for (; index + SUM_STRIDE <= count; index += SUM_STRIDE) {
    for (uint64_t part = 0; part < SUMS; ++part) {
      Lanes lanes;
      std::memcpy(&lanes, values + index + 2 * part, sizeof lanes);
      sums[part] += lanes;
    }
  }
  double sum = 0.0;
  for (; index < count; ++index) sum += values[index];
  for (const Lanes& part : sums) sum += part[0] + part[1];
  return sum;
}

// Maps, touches and unmaps a buffer of bytes, so that what follows starts
// the way an order does in the worker: just after the previous order's
// buffer went back to the kernel. Without it the time of a way depends on
// what ran before it and how long ago: on a virtual machine in particular,
// memory that has lain free for a while can cost far more to touch again.
static bool prime(uint64_t bytes) {
  void* mapping = nullptr;
  uint64_t mappingBytes = 0;
  auto* start = static_cast<volatile char*>(mapHuge(bytes, &mapping, &mappingBytes));
  if (start == nullptr) return false;
  for (uint64_t offset = 0; offset < bytes; offset += 4096) start[offset] = 1;
  munmap(mapping, mappingBytes);
  return true;
}

// Times one way at order n; returns false, with the reason, when it could
// not be measured.
static bool timeWay(Way way, uint32_t n, const double* warm, double* seconds, const char** failure) {
  const uint64_t bytes = static_cast<uint64_t>(n) * sizeof(double) * n;
  if (!prime(bytes)) {
    *failure = "mmap failed";
    return false;
  }
  const double expected = expectedFor(n);
  uint32_t j = 0;
  uint32_t k = 0;
  bool mismatch = false;
  const double start = threadSeconds();
  if (way == PLAIN) {
    auto* c_h = static_cast<double*>(std::malloc(bytes));
    if (c_h == nullptr) {
      *failure = "malloc failed";
      return false;
    }
    std::memcpy(c_h, warm, bytes);
    mismatch = plainMismatch(c_h, n, expected, &j, &k);
    std::free(c_h);
  } else if (way == CHOSEN) {
    double* c_h = allocateHostProduct(bytes);
    if (c_h == nullptr) {
      *failure = "allocateHostProduct failed";
      return false;
    }
    std::memcpy(c_h, warm, bytes);
    mismatch = findFirstMismatch(c_h, n, expected, &j, &k);
    releaseHostProduct(c_h, bytes);
  } else if (way == FLOOR_LANDING) {
    void* mapping = nullptr;
    uint64_t mappingBytes = 0;
    void* c_h = mapHuge(bytes, &mapping, &mappingBytes);
    if (c_h == nullptr) {
      *failure = "mmap failed";
      return false;
    }
    std::memcpy(c_h, warm, bytes);
    benchmark::ClobberMemory();
    munmap(mapping, mappingBytes);
  } else {
    benchmark::DoNotOptimize(sumOf(warm, static_cast<uint64_t>(n) * n));
  }
  *seconds = threadSeconds() - start;
  if (mismatch) {
    *failure = "the check found a mismatch in an exact product";
    return false;
  }
  return true;
}

// The ways timed together: the chosen way and the floor's two parts, which
// take turns in a rotating order so that the machine's drift over a run
// falls on all of them alike; and the plain way on its own. The plain way
// runs last of all: the next fresh buffer after it releases 2 GiB of small
// pages costs markedly more on this kind of machine (a virtual one), and that
// must not fall on the others.
enum Group { CHOSEN_AND_FLOOR, PLAIN_ALONE };
constexpr Way GROUP_WAYS[][3] = {{CHOSEN, FLOOR_LANDING, FLOOR_READ}, {PLAIN}};
constexpr size_t GROUP_SIZES[] = {3, 1};

// One repetition times every way of a group once at one order.
static void hostPath(benchmark::State& state) {
  const auto group = static_cast<Group>(state.range(0));
  const auto order = static_cast<int>(state.range(1));
  const uint32_t n = ORDERS[order];
  const double* const warm = warmSource(n);
  const size_t size = GROUP_SIZES[group];
  for (auto _ : state) {
    const size_t repetition = samples[GROUP_WAYS[group][0]][order].size();
    double seconds[WAY_COUNT] = {};
    for (size_t turn = 0; turn < size; ++turn) {
      const Way way = GROUP_WAYS[group][(repetition + turn) % size];
      const char* failure = nullptr;
      if (!timeWay(way, n, warm, &seconds[way], &failure)) {
        state.SkipWithError(failure);
        measurementFailed = true;
        break;
      }
    }
    if (state.error_occurred()) break;
    for (size_t member = 0; member < size; ++member) {
      const Way way = GROUP_WAYS[group][member];
      samples[way][order].push_back(seconds[way]);
      state.counters[std::string(WAY_NAMES[way]) + "_s"] = seconds[way];
    }
    state.SetIterationTime(seconds[GROUP_WAYS[group][0]]);
  }
}

static double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// One way's "GB/s seconds" columns, or dashes where it was not measured.
static void printWay(uint64_t bytes, double seconds) {
  if (seconds > 0.0) {
    std::printf(" | %8.2f %9.4f", static_cast<double>(bytes) / seconds / 1e9, seconds);
  } else {
    std::printf(" | %8s %9s", "-", "-");
  }
}

// Prints the table of the orders measured and the ratio over them; returns
// false when an order could not be measured.
static bool printTable() {
  std::printf("\nhost side of one order, median of %d: GB/s of the n*n*8-byte buffer, seconds per order\n",
              REPETITIONS);
  std::printf("%6s %6s | %8s %9s | %8s %9s | %8s %9s | %9s %9s\n", "n", "MiB", "plain", "s", "chosen", "s", "floor",
              "s", "landing s", "read s");
  double chosenTotal = 0.0;
  double floorTotal = 0.0;
  for (int order = 0; order < ORDER_COUNT; ++order) {
    if (samples[CHOSEN][order].empty()) continue;  // left out by --benchmark_filter
    const uint32_t n = ORDERS[order];
    const uint64_t bytes = static_cast<uint64_t>(n) * sizeof(double) * n;
    const double chosen = median(samples[CHOSEN][order]);
    const double landing = median(samples[FLOOR_LANDING][order]);
    const double read = median(samples[FLOOR_READ][order]);
    std::printf("%6u %6llu", n, static_cast<unsigned long long>(bytes >> 20));
    printWay(bytes, samples[PLAIN][order].empty() ? 0.0 : median(samples[PLAIN][order]));
    printWay(bytes, chosen);
    printWay(bytes, landing + read);
    std::printf(" | %9.4f %9.4f\n", landing, read);
    chosenTotal += chosen;
    floorTotal += landing + read;
  }
  if (measurementFailed || floorTotal == 0.0) {
    std::fprintf(stderr, "host_path_bench: not every order could be measured\n");
    return false;
  }
  std::printf("host path: %.2f of floor\n", chosenTotal / floorTotal);
  return true;
}

int main(int argc, char** argv) {
  // The benchmark's own time is that of the group's first way.
  const char* const groupNames[] = {"chosen_and_floor", "plain"};
  for (int group = CHOSEN_AND_FLOOR; group <= PLAIN_ALONE; ++group) {
    for (int order = 0; order < ORDER_COUNT; ++order) {
      const std::string name = std::string(groupNames[group]) + "/n:" + std::to_string(ORDERS[order]);
      benchmark::RegisterBenchmark(name.c_str(), hostPath)
          ->Args({group, order})
          ->Iterations(1)
          ->Repetitions(REPETITIONS)
          ->ReportAggregatesOnly(true)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return printTable() ? 0 : 1;
}
