#include "codec/recon/recon_queue.h"

#include <cstring>
#include <new>

#include "codec/core/alloc.h"

// Windows and WebAssembly builds decode on one thread.
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__) && !defined(ZR_NO_THREADS)
#define ZR_RECON_THREADS 1
#include <condition_variable>
#include <mutex>
#include <thread>
#else
#define ZR_RECON_THREADS 0
#endif

#if ZR_RECON_THREADS

namespace {

constexpr int32_t kBlocks = 4;
constexpr int32_t kBlockItems = 1024;

constexpr int32_t itemsFor(size_t bytes)
{
    return static_cast<int32_t>((bytes + sizeof(ReconItem) - 1) / sizeof(ReconItem));
}
constexpr int32_t kTargetItems = itemsFor(sizeof(CoefficientTarget));

struct TaskCall {
    ReconTask task;
    void* context;
};
constexpr int32_t kTaskItems = itemsFor(sizeof(TaskCall));

} // namespace

struct ReconWorker {
    ReconItem* items;          // kBlocks blocks of kBlockItems
    int32_t used[kBlocks];     // items in each published block
    uint64_t published;        // blocks handed over
    uint64_t done;             // blocks carried out
    bool stopping;
    std::mutex lock;
    std::condition_variable workReady;
    std::condition_variable workDone;
    std::thread thread;
    CoefficientTarget target;  // the worker's own
};

namespace {

ReconItem* blockStart(ReconWorker* w, uint64_t block)
{
    return w->items + static_cast<size_t>(block % kBlocks) * kBlockItems;
}

void runBlock(ReconWorker* w, const ReconItem* item, const ReconItem* end)
{
    while (item < end) {
        if (item->op == RECON_VALUE) {
            addCoefficientColour(w->target, item->value, item->row, item->col);
            item++;
        } else if (item->op == RECON_TARGET) {
            std::memcpy(&w->target, item + 1, sizeof w->target);
            item += 1 + kTargetItems;
        } else {
            TaskCall call;
            std::memcpy(&call, item + 1, sizeof call);
            call.task(call.context, item->value);
            item += 1 + kTaskItems;
        }
    }
}

void workerLoop(ReconWorker* w)
{
    std::unique_lock<std::mutex> hold(w->lock);
    for (;;) {
        w->workReady.wait(hold, [w] { return w->published != w->done || w->stopping; });
        if (w->published == w->done)
            return; // stopping with nothing left
        const uint64_t block = w->done;
        const int32_t count = w->used[block % kBlocks];
        hold.unlock();
        const ReconItem* start = blockStart(w, block);
        runBlock(w, start, start + count);
        hold.lock();
        w->done++;
        w->workDone.notify_one();
    }
}

// Room for `count` items in the block being filled.
void reserveItems(ReconQueue* queue, int32_t count)
{
    if (queue->end - queue->next < count)
        publishReconBlock(queue);
}

} // namespace

ReconQueue* startReconThread()
{
    ReconQueue* queue = static_cast<ReconQueue*>(allocChecked(sizeof(ReconQueue)));
    void* workerBytes = allocChecked(sizeof(ReconWorker));
    ReconItem* items =
        static_cast<ReconItem*>(allocChecked(sizeof(ReconItem) * static_cast<size_t>(kBlocks) * kBlockItems));
    if (!queue || !workerBytes || !items) {
        freeChecked(queue);
        freeChecked(workerBytes);
        freeChecked(items);
        return nullptr;
    }
    ReconWorker* w = new (workerBytes) ReconWorker();
    w->items = items;
    w->published = 0;
    w->done = 0;
    w->stopping = false;
    queue->worker = w;
    queue->next = blockStart(w, 0);
    queue->end = queue->next + kBlockItems;
    try {
        w->thread = std::thread(workerLoop, w);
    } catch (...) {
        // No thread to be had: the decode stays on its own thread.
        w->~ReconWorker();
        freeChecked(workerBytes);
        freeChecked(items);
        freeChecked(queue);
        return nullptr;
    }
    return queue;
}

void publishReconBlock(ReconQueue* queue)
{
    ReconWorker* w = queue->worker;
    std::unique_lock<std::mutex> hold(w->lock);
    const uint64_t block = w->published;
    w->used[block % kBlocks] = static_cast<int32_t>(queue->next - blockStart(w, block));
    w->published++;
    w->workReady.notify_one();
    // The next block is free once the worker has carried it out.
    w->workDone.wait(hold, [w] { return w->published - w->done < kBlocks; });
    queue->next = blockStart(w, w->published);
    queue->end = queue->next + kBlockItems;
}

void waitForRecon(ReconQueue* queue)
{
    if (!queue)
        return;
    ReconWorker* w = queue->worker;
    if (queue->next != blockStart(w, w->published))
        publishReconBlock(queue);
    std::unique_lock<std::mutex> hold(w->lock);
    w->workDone.wait(hold, [w] { return w->published == w->done; });
}

void stopReconThread(ReconQueue* queue)
{
    if (!queue)
        return;
    ReconWorker* w = queue->worker;
    waitForRecon(queue);
    {
        std::lock_guard<std::mutex> hold(w->lock);
        w->stopping = true;
        w->workReady.notify_one();
    }
    w->thread.join();
    ReconItem* items = w->items;
    w->~ReconWorker();
    freeChecked(w);
    freeChecked(items);
    freeChecked(queue);
}

void queueReconTarget(ReconQueue* queue, const CoefficientTarget& target)
{
    reserveItems(queue, 1 + kTargetItems);
    ReconItem* item = queue->next;
    item->op = RECON_TARGET;
    std::memcpy(item + 1, &target, sizeof target);
    queue->next += 1 + kTargetItems;
}

void queueReconTask(ReconQueue* queue, ReconTask task, void* context, int32_t argument)
{
    reserveItems(queue, 1 + kTaskItems);
    ReconItem* item = queue->next;
    item->op = RECON_TASK;
    item->value = argument;
    const TaskCall call{task, context};
    std::memcpy(item + 1, &call, sizeof call);
    queue->next += 1 + kTaskItems;
}

#else

struct ReconWorker {};

ReconQueue* startReconThread()
{
    return nullptr;
}

// Without threads no queue exists, so these are never reached.
void publishReconBlock(ReconQueue*) {}
void waitForRecon(ReconQueue*) {}
void stopReconThread(ReconQueue*) {}
void queueReconTarget(ReconQueue*, const CoefficientTarget&) {}
void queueReconTask(ReconQueue*, ReconTask, void*, int32_t) {}

#endif

void runReconTask(ReconQueue* queue, ReconTask task, void* context, int32_t argument)
{
    if (queue)
        queueReconTask(queue, task, context, argument);
    else
        task(context, argument);
}
