// Ending the process from the driver.
#pragma once

// Flushes standard output and standard error and ends the process with
// status at once. Workers may still be inside CUDA or cuBLAS calls, so the
// process skips the exit handlers and library teardown that could race with
// them or hang on a broken device.
[[noreturn]] void endProcess(int status);
