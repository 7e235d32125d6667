#include "codec/recon/thread_start.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace {

// What the started thread saw of itself.
struct Seen {
    std::mutex lock;
    std::condition_variable ran;
    bool done = false;
    std::thread::id id;
#if defined(__linux__)
    cpu_set_t allowed;
#endif
};

void record(void* context)
{
    Seen* seen = static_cast<Seen*>(context);
    std::lock_guard<std::mutex> hold(seen->lock);
#if defined(__linux__)
    sched_getaffinity(0, sizeof seen->allowed, &seen->allowed);
#endif
    seen->id = std::this_thread::get_id();
    seen->done = true;
    seen->ran.notify_one();
}

// Starts `record` and waits for it; false when it did not run within seconds.
bool startAndWait(Seen* seen)
{
    if (!startDetachedThread(record, seen))
        return false;
    std::unique_lock<std::mutex> hold(seen->lock);
    return seen->ran.wait_for(hold, std::chrono::seconds(10), [&] { return seen->done; });
}

} // namespace

#if ZR_RECON_THREADS

TEST(ThreadStart, RunsOnANewThreadThatMayUseEveryCpuOfItsCaller)
{
    static Seen seen; // outlives a thread that ran too late
    ASSERT_TRUE(startAndWait(&seen));
    EXPECT_NE(seen.id, std::this_thread::get_id());
#if defined(__linux__)
    // Started away from the caller's CPU, it takes back all of the caller's.
    cpu_set_t callers;
    ASSERT_EQ(sched_getaffinity(0, sizeof callers, &callers), 0);
    EXPECT_TRUE(CPU_EQUAL(&callers, &seen.allowed));
#endif
}

#if defined(__linux__)
TEST(ThreadStart, ACallerBoundToOneCpuStillGetsItsThread)
{
    cpu_set_t callers;
    ASSERT_EQ(sched_getaffinity(0, sizeof callers, &callers), 0);
    const int cpu = sched_getcpu();
    ASSERT_GE(cpu, 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    static Seen seen; // outlives a thread that ran too late
    const bool ran = startAndWait(&seen);
    sched_setaffinity(0, sizeof callers, &callers);
    ASSERT_TRUE(ran);
    EXPECT_TRUE(CPU_EQUAL(&one, &seen.allowed));
}
#endif

#else

TEST(ThreadStart, BuildsWithoutThreadsStartNone)
{
    static Seen seen; // outlives a thread that ran too late
    EXPECT_FALSE(startDetachedThread(record, &seen));
}

#endif
