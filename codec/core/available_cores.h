// How many cores this process may run on.
#pragma once
#include <cstdint>

// The cores of the process's affinity mask where the system has one (a
// process started under taskset or in a CPU set gets only those), else all
// the system's cores; at least 1 and at most 256.
int32_t availableCores();
