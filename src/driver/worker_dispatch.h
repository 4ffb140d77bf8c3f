// Starting one worker thread per selected device and joining them.
#pragma once

#include <pthread.h>

#include "device_selection.h"

extern pthread_t workerThreads[MAX_SELECTED_DEVICES];  // entry i tests selectedDevices[i]

// Starts a worker on every selected device before any is joined. A thread
// that cannot be created is reported and recorded as a failure of its device.
void startWorkers();

// Joins the workers in the order they were started. Returns false at the
// first whose result is not 1 (or whose thread never started), without
// waiting for the rest; true when every worker returned 1.
bool joinWorkers();
