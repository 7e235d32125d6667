#include "codec/core/available_cores.h"

#include <gtest/gtest.h>

#include <thread>
#if defined(__linux__)
#include <sched.h>
#endif

TEST(AvailableCores, CountsTheCoresTheProcessMayUse)
{
    const int32_t all = availableCores();
    EXPECT_GE(all, 1);
    EXPECT_LE(all, 256);
#if defined(__linux__)
    // Limited to one core, as under taskset, the count follows.
    cpu_set_t saved;
    ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
    int32_t first = 0;
    while (!CPU_ISSET(first, &saved))
        first++;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const int32_t limited = availableCores();
    ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
    EXPECT_EQ(limited, 1);
    EXPECT_EQ(all, CPU_COUNT(&saved));
#endif
}
