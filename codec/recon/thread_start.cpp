#include "codec/recon/thread_start.h"

#if ZR_RECON_THREADS

#include <thread>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>

#include "codec/core/alloc.h"
#endif

namespace {

bool startAnywhere(void (*run)(void*), void* argument)
{
    try {
        std::thread(run, argument).detach();
        return true;
    } catch (...) {
        return false;
    }
}

#if defined(__linux__)

struct SteeredStart {
    void (*run)(void*);
    void* argument;
    cpu_set_t allowed; // the caller's CPUs, which the thread takes back
};

void* runSteered(void* start)
{
    SteeredStart s = *static_cast<SteeredStart*>(start);
    freeChecked(start);
    sched_setaffinity(0, sizeof s.allowed, &s.allowed);
    s.run(s.argument);
    return nullptr;
}

// False, with nothing started, where no other CPU can be chosen.
bool startElsewhere(void (*run)(void*), void* argument)
{
    cpu_set_t allowed;
    const int cpu = sched_getcpu();
    if (cpu < 0 || sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return false;
    cpu_set_t others = allowed;
    CPU_CLR(cpu, &others);
    if (CPU_COUNT(&others) == 0)
        return false;
    auto* start = static_cast<SteeredStart*>(allocChecked(sizeof(SteeredStart)));
    if (!start)
        return false;
    *start = {run, argument, allowed};
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        freeChecked(start);
        return false;
    }
    pthread_t thread;
    const bool started = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0 &&
                         pthread_attr_setaffinity_np(&attributes, sizeof others, &others) == 0 &&
                         pthread_create(&thread, &attributes, runSteered, start) == 0;
    pthread_attr_destroy(&attributes);
    if (!started)
        freeChecked(start);
    return started;
}

#endif

} // namespace

bool startDetachedThread(void (*run)(void*), void* argument)
{
#if defined(__linux__)
    if (startElsewhere(run, argument))
        return true;
#endif
    return startAnywhere(run, argument);
}

#else

bool startDetachedThread(void (*)(void*), void*)
{
    return false;
}

#endif
