#include "codec/encoder/parallel_tasks.h"

#include "codec/core/available_cores.h"

#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

void runTasks(int32_t threads, size_t count, const std::function<void(size_t)>& task)
{
    size_t workers = threads > 1 ? static_cast<size_t>(threads) : 1;
    if (workers > count)
        workers = count;
    if (workers <= 1) {
        for (size_t i = 0; i < count; i++)
            task(i);
        return;
    }
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < count; i = next++)
            task(i);
    };
    std::vector<std::thread> pool;
    pool.reserve(workers - 1);
    for (size_t t = 1; t < workers; t++) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& t : pool)
        t.join();
}

int32_t encoderThreads(int32_t threads)
{
    if (threads > 0)
        return threads;
    return availableCores();
}
