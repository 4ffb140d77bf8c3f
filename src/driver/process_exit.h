// Ending the process from the driver.
#pragma once

// Flushes standard output and standard error and ends the process with
// status at once. Workers may still be inside CUDA or cuBLAS calls, so the
// process skips the exit handlers and library teardown that could race with
// them or hang on a broken device.
[[noreturn]] void endProcess(int status);

// Takes standard output and standard error for the calling thread and never
// gives them back: workers still running block at their next message, so
// what this thread prints before endProcess is the last line of the run.
void holdOutputStreams();
