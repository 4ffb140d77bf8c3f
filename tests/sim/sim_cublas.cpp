// The cuBLAS calls the program makes: a handle per device and a real DGEMM
// computed on the host.
#include <cublas_v2.h>

#include <functional>

#include "sim_state.h"

// A handle records the device it was created on; DGEMM must run there.
struct cublasContext {
  // Read through cublasHandle_t, which the cuBLAS header declares as a
  // pointer to this struct; cppcheck does not parse that header.
  // cppcheck-suppress unusedStructMember
  int device;
};

cublasStatus_t cublasCreate_v2(cublasHandle_t* handle) {
  SimState& state = simState();
  std::lock_guard<std::mutex> guard(state.lock);
  if (simFaultArmed(SimCall::CublasCreate, simCurrentDevice())) return CUBLAS_STATUS_NOT_INITIALIZED;
  // Handles live as long as the process, as the program's do.
  static cublasContext contexts[1024];
  *handle = &contexts[simCurrentDevice()];
  (*handle)->device = simCurrentDevice();
  return CUBLAS_STATUS_SUCCESS;
}

cublasStatus_t cublasDgemm_v2(cublasHandle_t handle, cublasOperation_t transa, cublasOperation_t transb, int m, int n,
                              int k, const double* alpha, const double* a, int lda, const double* b, int ldb,
                              const double* beta, double* c, int ldc) {
  SimState& state = simState();
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    SimDevice& simulated = state.devices.at(static_cast<size_t>(simCurrentDevice()));
    ++simulated.counts.dgemmsEntered;
    hook = simulated.dgemmHook;
  }
  if (hook) hook();
  {
    std::lock_guard<std::mutex> guard(state.lock);
    const int device = simCurrentDevice();
    SimDevice& simulated = state.devices.at(static_cast<size_t>(device));
    // The program multiplies square matrices, untransposed, with packed
    // leading dimensions; anything else is a fault of the program.
    const auto order = static_cast<uint32_t>(m);
    const uint64_t bytes = static_cast<uint64_t>(order) * order * sizeof(double);
    const auto fits = [&](const double* matrix) {
      const auto found = state.allocations.find(matrix);
      return found != state.allocations.end() && found->second.device == device && found->second.bytes >= bytes;
    };
    if (handle == nullptr || handle->device != device || transa != CUBLAS_OP_N || transb != CUBLAS_OP_N || m <= 0 ||
        n != m || k != m || lda != m || ldb != m || ldc != m || !fits(a) || !fits(b) || !fits(c)) {
      ++simulated.counts.misuses;
      return CUBLAS_STATUS_INVALID_VALUE;
    }
    if (simFaultArmed(SimCall::Dgemm, device, order)) return CUBLAS_STATUS_EXECUTION_FAILED;
    simulated.counts.orders.push_back(order);
    ++simulated.counts.dgemms;
  }

  // C = alpha*A*B + beta*C, column-major; the loop order keeps the inner
  // loop on contiguous memory.
  const auto size = static_cast<size_t>(m);
  for (size_t column = 0; column < size; ++column) {
    double* cColumn = c + column * size;
    for (size_t row = 0; row < size; ++row) cColumn[row] *= *beta;
    for (size_t inner = 0; inner < size; ++inner) {
      const double scale = *alpha * b[column * size + inner];
      const double* aColumn = a + inner * size;
      for (size_t row = 0; row < size; ++row) cColumn[row] += scale * aColumn[row];
    }
  }

  std::lock_guard<std::mutex> guard(state.lock);
  for (const SimWrongElement& wrong : state.wrongElements) {
    if (wrong.device == simCurrentDevice() && wrong.order == static_cast<uint32_t>(m)) c[wrong.index] = wrong.value;
  }
  return CUBLAS_STATUS_SUCCESS;
}
