// The test driver: command line, device selection, dispatch and verdict.
#include "veldrun_main.h"

#include <cstdio>

#include "command_line.h"
#include "device_selection.h"
#include "process_exit.h"
#include "run_settings.h"
#include "worker_dispatch.h"

int veldrunMain(int argc, char** argv) {
  // Progress must reach a pipe or a log as it happens, so that a run killed
  // on a hung GPU still shows how far it got.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  if (argc < 2) {
    printUsage(argc > 0 && argv[0] != nullptr ? argv[0] : "Veldrun");
    endProcess(1);
  }
  std::printf("sizeof(double) is %d\n", static_cast<int>(sizeof(double)));
  readRunSettings(argc, argv);

  selectDevices();
  startWorkers();
  if (!joinWorkers()) {
    holdOutputStreams();
    std::printf("ERROR: Failed with device %d. Veldrun FAILED.\n", failedDevice.load(std::memory_order_relaxed));
    endProcess(1);
  }
  std::printf("Veldrun PASSED.\n");
  return 0;
}
