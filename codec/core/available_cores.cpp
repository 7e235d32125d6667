#include "codec/core/available_cores.h"

#include <thread>
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#include <sched.h>
#endif

int32_t availableCores()
{
    int64_t cores = 0;
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
    // One system call, where the total below reads a file of /sys.
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        cores = CPU_COUNT(&allowed);
#endif
    if (cores <= 0)
        cores = std::thread::hardware_concurrency();
    return cores < 1 ? 1 : cores > 256 ? 256 : static_cast<int32_t>(cores);
}
