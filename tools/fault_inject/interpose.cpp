// Fault injection into a running Veldrun, loaded with LD_PRELOAD. Each
// function below takes the place of the CUDA runtime or cuBLAS function of
// the same name, injects the fault VELDRUN_INJECT asks for when the call is
// the one the rule names, and otherwise forwards the call, unchanged, to the
// real function found next in the lookup order (RTLD_NEXT).
//
// A call is matched by the matrix order it serves: the byte count n * n * 8
// of the allocation or the copy, the DGEMM's m, and for the synchronisation
// the order of the calling thread's latest matrix allocation. State is per
// thread, since every worker tests its own device on its own thread; a rule
// strikes every device that reaches its order.
#include <cublas_v2.h>
#include <cuda_runtime_api.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "inject_rule.h"

// Injected statuses: what the runtime reports for an exhausted device and
// for a kernel that faulted.
constexpr cudaError_t INJECTED_ALLOC_STATUS = cudaErrorMemoryAllocation;
constexpr cudaError_t INJECTED_SYNC_STATUS = cudaErrorLaunchFailure;

// The DGEMM's alpha is scaled by this at the rule's order: every element of
// 2n * alpha + 3 is then off by 2n * 2^-20, still exact in double precision.
constexpr double WRONG_ALPHA_SCALE = 1.0 + 1.0 / 1048576.0;

constexpr int INJECT_SETUP_FAILED = 2;  // exit status when the library cannot do its job

using MallocFunction = cudaError_t (*)(void**, size_t);
using SynchronizeFunction = cudaError_t (*)();
using MemcpyFunction = cudaError_t (*)(void*, const void*, size_t, cudaMemcpyKind);
using DgemmFunction = cublasStatus_t (*)(cublasHandle_t, cublasOperation_t, cublasOperation_t, int, int, int,
                                         const double*, const double*, int, const double*, int, const double*, double*,
                                         int);

// Read once, before main, and never written again.
static InjectRule rule = InjectRule{InjectKind::None, 0, 0, 0, 0};
static MallocFunction realMalloc = nullptr;
static SynchronizeFunction realSynchronize = nullptr;
static MemcpyFunction realMemcpy = nullptr;
static DgemmFunction realDgemm = nullptr;

static thread_local uint32_t currentOrder = 0;        // order of this thread's latest matrix allocation
static thread_local uint32_t allocationsAtOrder = 0;  // this thread's allocations of the rule's size so far

[[noreturn]] static void giveUp(const char* what, const char* detail) {
  std::fprintf(stderr, "fault_inject: %s%s\n", what, detail);
  _exit(INJECT_SETUP_FAILED);
}

// The real function, or nullptr when nothing after this library defines it
// (a process that does not use CUDA, which must still run).
template <typename Function>
static Function nextDefinition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

__attribute__((constructor)) static void readRule() {
  // The library is still loading: the process has no other thread yet.
  const char* text = std::getenv("VELDRUN_INJECT");  // NOLINT(concurrency-mt-unsafe)
  if (!parseInjectRule(text, &rule)) {
    std::fprintf(stderr, "fault_inject: cannot read VELDRUN_INJECT=\"%s\"; the forms are %s\n", text,
                 INJECT_RULE_FORMS);
    _exit(INJECT_SETUP_FAILED);
  }
  realMalloc = nextDefinition<MallocFunction>("cudaMalloc");
  realSynchronize = nextDefinition<SynchronizeFunction>("cudaDeviceSynchronize");
  realMemcpy = nextDefinition<MemcpyFunction>("cudaMemcpy");
  realDgemm = nextDefinition<DgemmFunction>("cublasDgemm_v2");
}

template <typename Function>
static Function checked(Function function, const char* name) {
  if (function == nullptr) giveUp("no definition to forward to for ", name);
  return function;
}

// The order whose n x n doubles take bytes, or 0 when no order does.
static uint32_t orderOfBytes(size_t bytes) {
  if (bytes == 0 || bytes % sizeof(double) != 0) return 0;
  const uint64_t elements = bytes / sizeof(double);
  const auto order = static_cast<uint64_t>(std::llround(std::sqrt(static_cast<double>(elements))));
  return order * order == elements && order <= INJECT_MAX_ORDER ? static_cast<uint32_t>(order) : 0;
}

extern "C" cudaError_t cudaMalloc(void** pointer, size_t bytes) {
  const MallocFunction forward = checked(realMalloc, "cudaMalloc");
  const uint32_t order = orderOfBytes(bytes);
  if (order != 0) currentOrder = order;
  if (rule.kind == InjectKind::AllocFail && order == rule.order) {
    // A, B and C of one order follow each other on the thread.
    const uint32_t matrix = allocationsAtOrder++ % 3;
    if (matrix == rule.matrix) return INJECTED_ALLOC_STATUS;
  }
  return forward(pointer, bytes);
}

extern "C" cudaError_t cudaDeviceSynchronize() {
  const cudaError_t status = checked(realSynchronize, "cudaDeviceSynchronize")();
  if (rule.kind == InjectKind::SyncFail && currentOrder == rule.order) return INJECTED_SYNC_STATUS;
  return status;
}

extern "C" cudaError_t cudaMemcpy(void* destination, const void* source, size_t bytes, cudaMemcpyKind kind) {
  const cudaError_t status = checked(realMemcpy, "cudaMemcpy")(destination, source, bytes, kind);
  if (rule.kind == InjectKind::WrongElement && status == cudaSuccess && kind == cudaMemcpyDeviceToHost &&
      orderOfBytes(bytes) == rule.order) {
    // The check reports element j * n + k of the host copy as location j,k.
    const uint64_t index = static_cast<uint64_t>(rule.row) * rule.order + rule.column;
    static_cast<double*>(destination)[index] += 1.0;
  }
  return status;
}

extern "C" cublasStatus_t cublasDgemm_v2(cublasHandle_t handle, cublasOperation_t transa, cublasOperation_t transb,
                                         int m, int n, int k, const double* alpha, const double* a, int lda,
                                         const double* b, int ldb, const double* beta, double* c, int ldc) {
  const DgemmFunction forward = checked(realDgemm, "cublasDgemm_v2");
  if (rule.kind == InjectKind::DgemmAlpha && m > 0 && static_cast<uint32_t>(m) == rule.order) {
    // Veldrun keeps cuBLAS's default host pointer mode, so alpha is read
    // from host memory during the call.
    const double wrongAlpha = *alpha * WRONG_ALPHA_SCALE;
    return forward(handle, transa, transb, m, n, k, &wrongAlpha, a, lda, b, ldb, beta, c, ldc);
  }
  return forward(handle, transa, transb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}
