// Veldrun: exact double-precision matrix-multiplication test of every NVIDIA
// GPU in the machine.
#include "veldrun_main.h"

#ifdef _WIN32
// Switchable-graphics drivers read this export to run the process on the
// NVIDIA GPU.
extern "C" __declspec(dllexport) int NvOptimusEnablementCuda = 1;
#endif

int main(int argc, char** argv) { return veldrunMain(argc, argv); }
