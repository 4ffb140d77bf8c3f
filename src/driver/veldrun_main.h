// The process entry, callable from the executable's main and from tests.
#pragma once

// Runs the whole test: reads the arguments, selects the devices, runs one
// worker per device and reports the verdict. Returns 0 when every device
// passed; every other outcome ends the process with status 1.
int veldrunMain(int argc, char** argv);
