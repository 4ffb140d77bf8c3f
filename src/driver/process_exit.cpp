// Ending the process without running library teardown.
#include "process_exit.h"

#include <unistd.h>

#include <cstdio>

void endProcess(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}

void holdOutputStreams() {
  // Always in this order; a worker holds at most one stream at a time, for
  // the length of one message.
  flockfile(stdout);
  flockfile(stderr);
}
