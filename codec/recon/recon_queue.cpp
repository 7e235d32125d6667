#include "codec/recon/recon_queue.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codec/core/alloc.h"

#include "codec/recon/thread_start.h"

#if ZR_RECON_THREADS
#include <atomic>
#include <condition_variable>
#include <mutex>
#endif

#if ZR_RECON_THREADS

namespace {

// Positions count items from the start of the decode; an item at position p
// sits in slot p % ringItems. A record never runs past the end of the ring:
// RECON_WRAP sends the reader back to its start. 256 KiB: half of it left
// the decoding thread of colour pictures waiting for the worker (some 4 ms
// a picture); twice it decoded grey half a millisecond slower (its pages are
// mapped ahead, and it crowds the caches) and raised the peak memory.
constexpr uint64_t kRingItems = uint64_t(1) << 15;
// Items handed over at a time (at most a quarter of the ring), and the
// backlog that wakes a sleeping worker.
constexpr uint64_t kBatchItems = 512;
constexpr uint64_t kWakeItems = 4096;
// Polls before a waiting side sleeps (about 20 ns each): some tens of
// microseconds for the decoding thread, some hundreds for the worker, which
// would otherwise sleep between hand-overs and cost the decoding thread a
// wake-up call (a system call, slow in virtual machines) every few of them.
constexpr int32_t kSpins = 2000;
constexpr int32_t kWorkerSpins = 20000;

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
constexpr int32_t kFormItems = itemsFor(sizeof(ReconSymbolForm));
constexpr int32_t kLongestRecord = 1 + std::max({kTargetItems, kTaskItems, kFormItems});

} // namespace

// What each thread writes often sits in cache lines of its own (the pads),
// so that neither side's stores take a line the other is reading.
struct ReconWorker {
    ReconItem* ring;
    uint64_t ringItems;
    uint64_t batchItems;
    char pad0[64];
    // Written by the decoding thread.
    std::atomic<uint64_t> published;     // items handed over
    std::atomic<uint64_t> producerWants; // the position a sleeping decoding thread waits for
    std::atomic<bool> producerSleeping;
    uint64_t lapStart;                   // position of ring[0] in the current lap
    char pad1[64];
    // Written by the worker.
    std::atomic<uint64_t> done;          // items carried out
    std::atomic<bool> workerSleeping;
    CoefficientTarget target;            // the worker's own
    uint32_t colBits;
    bool onePlane;                       // the target is a single integer plane, value by value
    bool symbols;                        // items are symbols in `form`, not values
    ReconSymbolForm form;
    char pad2[64];
    std::atomic<bool> stopping;
    // The decoding thread's hold and the worker's: the record and the ring go
    // with the last, so that neither waits for the other to end.
    std::atomic<int32_t> holders;
    std::mutex lock;
    std::condition_variable workReady;
    std::condition_variable workDone;
};

namespace {

uint64_t position(const ReconQueue* queue)
{
    const ReconWorker* w = queue->worker;
    return w->lapStart + static_cast<uint64_t>(queue->next - w->ring);
}

// Carries out the records from `from` on until at least `upTo`; returns the
// position after the last one.
uint64_t runItems(ReconWorker* w, uint64_t from, uint64_t upTo)
{
    while (from < upTo) {
        const ReconItem* item = w->ring + from % w->ringItems;
        const uint32_t at = item->at;
        if (at < kReconMarks || at == RECON_WIDE_VALUE) {
            int32_t row, col;
            int32_t value = item->value;
            if (at >= kReconMarks) {
                row = item[1].value;
                col = static_cast<int32_t>(item[1].at);
                from += 2;
            } else if (w->symbols) {
                const ReconSymbolForm& form = w->form;
                value = valueOfSymbol(&form.dequantiser, value);
                row = form.rowStart + static_cast<int32_t>(at >> form.colBits);
                col = form.colStart + static_cast<int32_t>(at & ((uint32_t(1) << form.colBits) - 1));
                from++;
            } else {
                row = static_cast<int32_t>(at >> w->colBits);
                col = static_cast<int32_t>(at & ((uint32_t(1) << w->colBits) - 1));
                from++;
            }
            const CoefficientTarget& t = w->target;
            if (w->onePlane)
                addCoefficientPlane(t.planes[0], value, t.levelHeight, t.levelWidth, t.lowHeight, t.lowWidth,
                                    t.band, row, col);
            else
                addCoefficientColour(t, value, row, col);
        } else if (at == RECON_TARGET) {
            std::memcpy(&w->target, item + 1, sizeof w->target);
            w->onePlane = !w->target.toPixels && w->target.components == 1 && !w->target.grids[0];
            w->symbols = false;
            if (!packedPositionBits(w->target.levelHeight, w->target.levelWidth, &w->colBits))
                w->colBits = 0;
            from += 1 + kTargetItems;
        } else if (at == RECON_SYMBOL_FORM) {
            std::memcpy(&w->form, item + 1, sizeof w->form);
            w->symbols = true;
            from += 1 + kFormItems;
        } else if (at == RECON_TASK) {
            TaskCall call;
            std::memcpy(&call, item + 1, sizeof call);
            call.task(call.context, item->value);
            // A task ends the batch, so that its mark is passed at once, not
            // after whatever is queued behind it (a slow task included).
            return from + 1 + kTaskItems;
        } else {
            from += w->ringItems - from % w->ringItems;
        }
    }
    return from;
}

void releaseWorker(ReconWorker* w)
{
    if (w->holders.fetch_sub(1) != 1)
        return;
    ReconItem* ring = w->ring;
    w->~ReconWorker();
    freeChecked(w);
    freeChecked(ring);
}

void runWorker(ReconWorker* w)
{
    // The ring's pages are mapped here, while the decoding thread reads the
    // lowest band, rather than by its first writes (some 130 faults).
    prefaultPages(w->ring, sizeof(ReconItem) * w->ringItems);
    uint64_t at = 0;
    for (;;) {
        uint64_t ready = w->published.load();
        for (int32_t i = 0; ready == at && i < kWorkerSpins && !w->stopping.load(std::memory_order_relaxed); i++) {
            cpuRelax();
            ready = w->published.load();
        }
        if (ready == at) {
            std::unique_lock<std::mutex> hold(w->lock);
            for (;;) {
                w->workerSleeping.store(true);
                ready = w->published.load();
                if (ready != at || w->stopping.load())
                    break;
                w->workReady.wait(hold);
            }
            w->workerSleeping.store(false);
            if (ready == at)
                return; // stopping with nothing left
        }
        // Slots are given back a batch at a time, so that a waiting decoding
        // thread goes on soon.
        while (at < ready) {
            at = runItems(w, at, ready - at > w->batchItems ? at + w->batchItems : ready);
            w->done.store(at);
            if (w->producerSleeping.load() && at >= w->producerWants.load()) {
                std::lock_guard<std::mutex> hold(w->lock);
                w->producerSleeping.store(false);
                w->workDone.notify_one();
            }
        }
    }
}

void workerLoop(void* worker)
{
    ReconWorker* w = static_cast<ReconWorker*>(worker);
    runWorker(w);
    releaseWorker(w);
}

// Hands the items written so far over; a sleeping worker is woken when
// `wake` is set or enough work has gathered.
void handOver(ReconQueue* queue, bool wake)
{
    ReconWorker* w = queue->worker;
    const uint64_t at = position(queue);
    w->published.store(at);
    if (w->workerSleeping.load() && (wake || at - w->done.load() >= kWakeItems)) {
        // Once woken, the worker is not woken again until it sleeps anew.
        std::lock_guard<std::mutex> hold(w->lock);
        w->workerSleeping.store(false);
        w->workReady.notify_one();
    }
}

// Hands everything over and returns once the worker has carried out the
// items before position `upTo`.
void waitUntilDone(ReconQueue* queue, uint64_t upTo)
{
    ReconWorker* w = queue->worker;
    handOver(queue, true);
    for (int32_t i = 0; i < kSpins; i++) {
        if (w->done.load() >= upTo)
            return;
        cpuRelax();
    }
    w->producerWants.store(upTo);
    std::unique_lock<std::mutex> hold(w->lock);
    for (;;) {
        w->producerSleeping.store(true);
        if (w->done.load() >= upTo)
            break;
        w->workDone.wait(hold);
    }
    w->producerSleeping.store(false);
}

// Room for `count` items in a row at queue->next; hands the items written so
// far over.
void makeRoom(ReconQueue* queue, uint64_t count)
{
    ReconWorker* w = queue->worker;
    ReconItem* lapEnd = w->ring + w->ringItems;
    for (;;) {
        const uint64_t lapRoom = static_cast<uint64_t>(lapEnd - queue->next);
        // The items themselves, or a wrap mark where they do not fit.
        const uint64_t need = lapRoom >= count ? count : lapRoom > 0 ? 1 : 0;
        const uint64_t at = position(queue);
        if (w->done.load() + w->ringItems < at + need) {
            // A full ring means the worker is behind: wait until a
            // sixteenth of it is free rather than for each batch the worker
            // gives back, so that both sides sleep and wake at most some
            // sixteen times per lap.
            const uint64_t room = at + need - w->ringItems + w->ringItems / 16;
            waitUntilDone(queue, room < at ? room : at);
        }
        if (lapRoom >= count)
            break;
        if (lapRoom > 0)
            queue->next->at = RECON_WRAP;
        w->lapStart += w->ringItems;
        queue->next = w->ring;
    }
    handOver(queue, false);
    const uint64_t free = w->done.load() + w->ringItems - position(queue);
    uint64_t room = static_cast<uint64_t>(lapEnd - queue->next);
    room = room < free ? room : free;
    const uint64_t batch = count > w->batchItems ? count : w->batchItems;
    queue->end = queue->next + (room < batch ? room : batch);
}

// After a record: with wide positions every value takes the long way.
// (Otherwise the room up to queue->end stays free for values.)
void endRecord(ReconQueue* queue)
{
    if (queue->wideValues)
        queue->end = queue->next;
}

void reserveItems(ReconQueue* queue, int32_t count)
{
    if (queue->end - queue->next < count)
        makeRoom(queue, static_cast<uint64_t>(count));
}

// A record: an item with its mark and value, then `bytes` of payload in
// `items` items.
void queueRecord(ReconQueue* queue, uint32_t mark, int32_t value, const void* payload, size_t bytes, int32_t items)
{
    reserveItems(queue, 1 + items);
    ReconItem* item = queue->next;
    item->at = mark;
    item->value = value;
    std::memcpy(item + 1, payload, bytes);
    queue->next += 1 + items;
    endRecord(queue);
}

} // namespace

ReconQueue* startReconThread(int32_t ringItems)
{
    const uint64_t slots = ringItems > 0 ? static_cast<uint64_t>(ringItems) : kRingItems;
    if (slots < static_cast<uint64_t>(kLongestRecord))
        return nullptr;
    void* queueBytes = allocChecked(sizeof(ReconQueue));
    void* workerBytes = allocChecked(sizeof(ReconWorker));
    ReconItem* ring = static_cast<ReconItem*>(allocChecked(sizeof(ReconItem) * slots));
    if (!queueBytes || !workerBytes || !ring) {
        freeChecked(queueBytes);
        freeChecked(workerBytes);
        freeChecked(ring);
        return nullptr;
    }
    ReconQueue* queue = new (queueBytes) ReconQueue();
    ReconWorker* w = new (workerBytes) ReconWorker();
    w->ring = ring;
    w->ringItems = slots;
    w->batchItems = slots / 4 < kBatchItems ? (slots / 4 > 0 ? slots / 4 : 1) : kBatchItems;
    w->published.store(0);
    w->done.store(0);
    w->workerSleeping.store(false);
    w->producerSleeping.store(false);
    w->producerWants.store(0);
    w->stopping.store(false);
    w->holders.store(2);
    w->lapStart = 0;
    queue->worker = w;
    queue->next = ring;
    queue->end = ring + w->batchItems;
    queue->colBits = 0;
    queue->wideValues = false;
    for (uint64_t& mark : queue->gridsClearedMark)
        mark = 0;
    queue->gridsClaimed.store(0);
    queue->clearGrids = nullptr;
    queue->clearGridsContext = nullptr;
    // Never joined: stopReconThread waits for the work, not for the
    // thread's ending.
    if (!startDetachedThread(workerLoop, w)) {
        // No thread to be had: the decode stays on its own thread.
        w->~ReconWorker();
        freeChecked(workerBytes);
        freeChecked(ring);
        queue->~ReconQueue();
        freeChecked(queue);
        return nullptr;
    }
    return queue;
}

void queueReconValueSlowly(ReconQueue* queue, int32_t value, int32_t row, int32_t col)
{
    if (!queue->wideValues) {
        makeRoom(queue, 1);
        *queue->next++ = ReconItem{value, static_cast<uint32_t>(row) << queue->colBits | static_cast<uint32_t>(col)};
        return;
    }
    makeRoom(queue, 2);
    queue->next[0] = ReconItem{value, RECON_WIDE_VALUE};
    queue->next[1] = ReconItem{row, static_cast<uint32_t>(col)};
    queue->next += 2;
    endRecord(queue);
}

void queueReconSymbolSlowly(ReconQueue* queue, int32_t symbol, uint32_t at)
{
    makeRoom(queue, 1);
    *queue->next++ = ReconItem{symbol, at};
    endRecord(queue);
}

void queueReconSymbolForm(ReconQueue* queue, const ReconSymbolForm& form)
{
    queueRecord(queue, RECON_SYMBOL_FORM, 0, &form, sizeof form, kFormItems);
}

void publishReconBlock(ReconQueue* queue)
{
    handOver(queue, true);
}

void waitForRecon(ReconQueue* queue)
{
    if (queue)
        waitUntilDone(queue, position(queue));
}

uint64_t reconMark(const ReconQueue* queue)
{
    return queue ? position(queue) : 0;
}

void waitForReconMark(ReconQueue* queue, uint64_t mark)
{
    if (!reconMarkPassed(queue, mark))
        waitUntilDone(queue, mark);
}

bool reconMarkPassed(const ReconQueue* queue, uint64_t mark)
{
    return !queue || queue->worker->done.load() >= mark;
}

void endReconThread(ReconQueue* queue)
{
    if (!queue)
        return;
    ReconWorker* w = queue->worker;
    handOver(queue, false);
    std::lock_guard<std::mutex> hold(w->lock);
    w->stopping.store(true);
    w->workReady.notify_one();
}

void stopReconThreadAt(ReconQueue* queue, uint64_t mark)
{
    if (!queue)
        return;
    ReconWorker* w = queue->worker;
    if (!w->stopping.load())
        endReconThread(queue);
    // The worker carries everything handed over out before it ends; the rest
    // of its work, its ending (and the release of the ring when it lets go
    // last) overlap what the caller does next.
    waitUntilDone(queue, mark);
    releaseWorker(w);
    queue->~ReconQueue();
    freeChecked(queue);
}

void stopReconThread(ReconQueue* queue)
{
    if (queue)
        stopReconThreadAt(queue, position(queue));
}

void queueReconTarget(ReconQueue* queue, const CoefficientTarget& target)
{
    // The position bits first: endRecord depends on them.
    queue->wideValues = !packedPositionBits(target.levelHeight, target.levelWidth, &queue->colBits);
    queueRecord(queue, RECON_TARGET, 0, &target, sizeof target, kTargetItems);
}

void queueReconTask(ReconQueue* queue, ReconTask task, void* context, int32_t argument)
{
    const TaskCall call{task, context};
    queueRecord(queue, RECON_TASK, argument, &call, sizeof call, kTaskItems);
}

#else

struct ReconWorker {};

ReconQueue* startReconThread(int32_t)
{
    return nullptr;
}

// Without threads no queue exists, so these are never reached.
void queueReconValueSlowly(ReconQueue*, int32_t, int32_t, int32_t) {}
void queueReconSymbolSlowly(ReconQueue*, int32_t, uint32_t) {}
void queueReconSymbolForm(ReconQueue*, const ReconSymbolForm&) {}
void publishReconBlock(ReconQueue*) {}
void waitForRecon(ReconQueue*) {}
uint64_t reconMark(const ReconQueue*)
{
    return 0;
}
void waitForReconMark(ReconQueue*, uint64_t) {}
bool reconMarkPassed(const ReconQueue*, uint64_t)
{
    return true;
}
void stopReconThread(ReconQueue*) {}
void stopReconThreadAt(ReconQueue*, uint64_t) {}
void endReconThread(ReconQueue*) {}
void queueReconTarget(ReconQueue*, const CoefficientTarget&) {}
void queueReconTask(ReconQueue*, ReconTask, void*, int32_t) {}

#endif

bool packedPositionBits(int32_t levelHeight, int32_t levelWidth, uint32_t* colBits)
{
    uint32_t bits = 4;
    while (bits < 31 && (int64_t(1) << bits) < levelWidth)
        bits++;
    *colBits = bits;
    // The last position, (levelHeight << bits) - 1, stays below the marks.
    return levelHeight <= 0 || (uint64_t(levelHeight) << bits) <= kReconMarks;
}

void runReconTask(ReconQueue* queue, ReconTask task, void* context, int32_t argument)
{
    if (queue)
        queueReconTask(queue, task, context, argument);
    else
        task(context, argument);
}
