#include "codec/recon/recon_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "codec/core/geometry.h"

namespace {

constexpr int32_t kSide = 40;
// A level too large for positions packed into 32 bits; its values go to the
// grid of its first rows.
constexpr int32_t kWideSide = 1 << 16;
constexpr int32_t kWideRows = 3;

void logTask(void* context, int32_t argument)
{
    static_cast<std::vector<int32_t>*>(context)->push_back(argument);
}

struct Planes {
    Plane planes[3];
    std::vector<int32_t> wideGrid = std::vector<int32_t>(size_t(kWideRows) * kWideSide);
    Planes()
    {
        for (Plane& p : planes) {
            p = makePlane(kSide, kSide);
            for (int32_t y = 0; y < kSide; y++)
                for (int32_t x = 0; x < kSide; x++)
                    p[y][x] = 0;
        }
    }
    ~Planes()
    {
        for (Plane p : planes)
            freePlane(p);
    }
    bool operator==(const Planes& o) const
    {
        if (wideGrid != o.wideGrid)
            return false;
        for (int32_t i = 0; i < 3; i++)
            for (int32_t y = 0; y < kSide; y++)
                for (int32_t x = 0; x < kSide; x++)
                    if (planes[i][y][x] != o.planes[i][y][x])
                        return false;
        return true;
    }
};

enum OpKind { TARGET, WIDE_TARGET, VALUE, FORM, SYMBOL, TASK, WAIT, PUBLISH };

struct Op {
    OpKind kind;
    CoefficientTarget target; // TARGET, with planes filled in when replayed
    ReconSymbolForm form;     // FORM
    int32_t value, row, col;  // SYMBOL: the symbol, and its position also packed in `at`
    uint32_t at;
};

// A list's form inside the band: any quantiser, an origin in the band, and
// column bits that hold the band's columns from there (or one more).
ReconSymbolForm randomForm(std::mt19937& rng, const BandRect& rect)
{
    ReconSymbolForm form{};
    Dequantiser& d = form.dequantiser;
    d.quantStep = int32_t(rng() % 40) + 1;
    d.fine = int32_t(rng() % 2);
    d.fineStep = int32_t(rng() % uint32_t(d.quantStep)) + 1;
    d.fineCount = int32_t(rng() % 6);
    d.exact = int32_t(rng() % 2);
    d.boost = rng() % 2 ? int32_t(rng() % 8) : 0;
    form.rowStart = rect.rowStart + int32_t(rng() % uint32_t(rect.rowEnd - rect.rowStart));
    form.colStart = rect.colStart + int32_t(rng() % uint32_t(rect.colEnd - rect.colStart));
    form.colBits = uint32_t(std::bit_width(uint32_t(rect.colEnd - form.colStart - 1))) + rng() % 2;
    return form;
}

// Mostly small symbols, now and then a large one or a corrupt stream's -1.
int32_t randomSymbol(std::mt19937& rng)
{
    const uint32_t pick = rng() % 100;
    return pick == 0 ? -1 : pick < 5 ? int32_t(rng() % 64008) + 1 : int32_t(rng() % 40) + 1;
}

// A random run of targets (one plane or colour, levels 0-2, every band; now
// and then a grid of a level too wide for packed positions), values inside
// the current band, tasks, waits and hand-overs.
std::vector<Op> randomOps(uint32_t seed, int32_t count)
{
    std::mt19937 rng(seed);
    std::vector<Op> ops;
    BandRect rect{};
    // Symbols follow a form, until the next target.
    bool symbols = false;
    ReconSymbolForm form{};
    for (int32_t i = 0; i < count; i++) {
        const uint32_t pick = rng() % 1000;
        Op op{};
        if (pick < 5)
            symbols = false; // a target below ends them
        if (i > 0 && pick < 2) {
            op.kind = WIDE_TARGET;
            CoefficientTarget& t = op.target;
            t.components = 1;
            t.levelHeight = kWideSide;
            t.levelWidth = kWideSide;
            t.lowHeight = lowSize(kWideSide);
            t.lowWidth = lowSize(kWideSide);
            t.band = 1;
            rect = BandRect{0, kWideRows, 0, kWideSide};
        } else if (i == 0 || pick < 5) {
            op.kind = TARGET;
            CoefficientTarget& t = op.target;
            t.components = rng() % 2 ? 3 : 1;
            t.component = t.components == 3 ? int32_t(rng() % 3) : 0;
            const int32_t L = int32_t(rng() % 3);
            t.levelHeight = levelSize(kSide, L);
            t.levelWidth = levelSize(kSide, L);
            t.lowHeight = lowSize(t.levelHeight);
            t.lowWidth = lowSize(t.levelWidth);
            t.band = int32_t(rng() % 3);
            rect = bandRect(kSide, kSide, L, t.band);
        } else if (pick < 15) {
            op.kind = TASK;
            op.value = i;
        } else if (pick < 16) {
            op.kind = WAIT;
        } else if (pick < 17) {
            op.kind = PUBLISH;
        } else if (pick < 22) {
            op.kind = FORM;
            op.form = randomForm(rng, rect);
        } else if (symbols) {
            op.kind = SYMBOL;
            op.row = form.rowStart + int32_t(rng() % uint32_t(rect.rowEnd - form.rowStart));
            op.col = form.colStart + int32_t(rng() % uint32_t(rect.colEnd - form.colStart));
            op.at = uint32_t(op.row - form.rowStart) << form.colBits | uint32_t(op.col - form.colStart);
            op.value = randomSymbol(rng);
        } else {
            op.kind = VALUE;
            op.row = rect.rowStart + int32_t(rng() % uint32_t(rect.rowEnd - rect.rowStart));
            op.col = rect.colStart + int32_t(rng() % uint32_t(rect.colEnd - rect.colStart));
            op.value = int32_t(rng() % 200) - 100;
        }
        if (op.kind == FORM) {
            symbols = true;
            form = op.form;
        }
        ops.push_back(op);
    }
    return ops;
}

// Carries the run out on the queue, or at once without one.
void replay(const std::vector<Op>& ops, ReconQueue* queue, Planes* planes, std::vector<int32_t>* log)
{
    CoefficientTarget current{};
    ReconSymbolForm form{};
    for (Op op : ops) {
        switch (op.kind) {
        case TARGET:
        case WIDE_TARGET:
            op.target.planes = planes->planes;
            if (op.kind == WIDE_TARGET)
                op.target.grids[0] = planes->wideGrid.data();
            current = op.target;
            if (queue)
                queueReconTarget(queue, current);
            break;
        case VALUE:
            if (queue)
                queueReconValue(queue, op.value, op.row, op.col);
            else
                addCoefficientColour(current, op.value, op.row, op.col);
            break;
        case FORM:
            form = op.form;
            if (queue)
                queueReconSymbolForm(queue, form);
            break;
        case SYMBOL:
            if (queue)
                queueReconSymbol(queue, op.value, op.at);
            else
                addCoefficientColour(current, valueOfSymbol(&form.dequantiser, op.value), op.row, op.col);
            break;
        case TASK:
            runReconTask(queue, logTask, log, op.value);
            break;
        case WAIT:
            waitForRecon(queue);
            break;
        case PUBLISH:
            if (queue)
                publishReconBlock(queue);
            break;
        }
    }
}

// Many laps of rings of several lengths, down to the shortest that holds a
// record (a target: 1 + 9 items): records meet the ring's end at every
// offset, and the decoding thread waits for room, sometimes while the worker
// sleeps.
TEST(ReconQueue, CarriesOutEveryStepInOrderAcrossManyLaps)
{
    if (ReconQueue* probe = startReconThread())
        stopReconThread(probe);
    else
        GTEST_SKIP() << "SKIPPED: this build reconstructs on one thread";
    uint32_t seed = 1;
    for (int32_t ringItems : {10, 11, 16, 61, 4096, 0}) {
        // Short rings hand over every few items, which is slow: fewer steps.
        const std::vector<Op> ops = randomOps(seed++, ringItems > 0 && ringItems < 100 ? 20000 : 200000);
        Planes direct, queued;
        std::vector<int32_t> directLog, queuedLog;
        replay(ops, nullptr, &direct, &directLog);

        ReconQueue* queue = startReconThread(ringItems);
        ASSERT_NE(queue, nullptr) << "ring of " << ringItems;
        replay(ops, queue, &queued, &queuedLog);
        waitForRecon(queue);
        EXPECT_TRUE(direct == queued) << "ring of " << ringItems;
        EXPECT_EQ(directLog, queuedLog) << "ring of " << ringItems;
        // More work after a full wait; stopping finishes it.
        runReconTask(queue, logTask, &queuedLog, -7);
        stopReconThread(queue);
        ASSERT_FALSE(queuedLog.empty());
        EXPECT_EQ(queuedLog.back(), -7);
    }
    EXPECT_EQ(startReconThread(3), nullptr) << "a ring too short for a record";
}

void countTask(void* context, int32_t argument)
{
    static_cast<std::atomic<int32_t>*>(context)->fetch_add(argument);
}

// A mark waits for exactly the steps queued before it, also where the ring
// wraps between them; later steps may still be pending.
TEST(ReconQueue, MarkWaitsForTheStepsBeforeIt)
{
    waitForReconMark(nullptr, 5);
    EXPECT_EQ(reconMark(nullptr), 0u);
    for (int32_t ringItems : {10, 16, 0}) {
        ReconQueue* queue = startReconThread(ringItems);
        if (!queue)
            GTEST_SKIP() << "SKIPPED: this build reconstructs on one thread";
        std::atomic<int32_t> count{0};
        int32_t queued = 0;
        for (int32_t i = 0; i < 3000; i++) {
            const int32_t steps = 1 + i % 3;
            for (int32_t k = 0; k < steps; k++)
                queueReconTask(queue, countTask, &count, 1);
            queued += steps;
            const uint64_t mark = reconMark(queue);
            waitForReconMark(queue, mark);
            ASSERT_EQ(count.load(), queued) << "ring of " << ringItems << ", round " << i;
            waitForReconMark(queue, mark); // a mark already passed returns at once
        }
        stopReconThread(queue);
    }
}

// A task that runs until released (or for 5 s at most).
struct Hold {
    std::atomic<bool> released{false}, timedOut{false};
};

void holdTask(void* context, int32_t)
{
    Hold* h = static_cast<Hold*>(context);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!h->released.load())
        if (std::chrono::steady_clock::now() > limit) {
            h->timedOut.store(true);
            return;
        }
}

// Queues a count, a hold and a second count; returns the mark after the
// first count.
uint64_t queueCountHoldCount(ReconQueue* queue, std::atomic<int32_t>* count, Hold* hold)
{
    queueReconTask(queue, countTask, count, 1);
    const uint64_t mark = reconMark(queue);
    queueReconTask(queue, holdTask, hold, 0);
    queueReconTask(queue, countTask, count, 1);
    return mark;
}

// A mark is passed as soon as the steps before it are carried out, even while
// a slow step queued right behind it is still running.
TEST(ReconQueue, MarkIsPassedWhileALaterTaskRuns)
{
    for (int32_t ringItems : {64, 0}) {
        ReconQueue* queue = startReconThread(ringItems);
        if (!queue)
            GTEST_SKIP() << "SKIPPED: this build reconstructs on one thread";
        Hold hold;
        std::atomic<int32_t> count{0};
        waitForReconMark(queue, queueCountHoldCount(queue, &count, &hold));
        EXPECT_EQ(count.load(), 1);
        hold.released.store(true);
        waitForRecon(queue);
        EXPECT_FALSE(hold.timedOut.load()) << "ring of " << ringItems;
        EXPECT_EQ(count.load(), 2);
        stopReconThread(queue);
    }
}

// Once asked to end, the worker carries out what was queued before, also when
// it was asleep and nothing woke it yet, and ends without being joined.
TEST(ReconQueue, EndingCarriesOutTheQueuedWorkFirst)
{
    endReconThread(nullptr);
    for (int32_t ringItems : {10, 16, 0}) {
        for (bool asleep : {false, true}) {
            ReconQueue* queue = startReconThread(ringItems);
            if (!queue)
                GTEST_SKIP() << "SKIPPED: this build reconstructs on one thread";
            std::atomic<int32_t> count{0};
            queueReconTask(queue, countTask, &count, 1);
            waitForRecon(queue);
            if (asleep) // past the worker's polls: it waits to be woken
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            for (int32_t i = 0; i < 5; i++) // fewer items than wake the worker on their own
                queueReconTask(queue, countTask, &count, 1);
            endReconThread(queue);
            for (int32_t polls = 0; count.load() < 6 && polls < 2000; polls++)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EXPECT_EQ(count.load(), 6) << "ring of " << ringItems << (asleep ? ", worker asleep" : "");
            stopReconThread(queue);
            EXPECT_EQ(count.load(), 6);
        }
    }
}

void slowTask(void* context, int32_t)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    *static_cast<int32_t*>(context) = 1;
}

// Stopping returns once the queued work is done and visible, not once the
// worker has ended; the worker's record goes with whichever side lets go
// last (ASan and TSan watch the many short-lived queues here).
TEST(ReconQueue, StoppingWaitsForTheWorkButNotForTheThread)
{
    for (bool ended : {false, true}) {
        ReconQueue* queue = startReconThread();
        if (!queue)
            GTEST_SKIP() << "SKIPPED: this build reconstructs on one thread";
        int32_t done = 0; // plain: TSan sees whether stopping makes the write visible
        queueReconTask(queue, slowTask, &done, 0);
        if (ended)
            endReconThread(queue);
        stopReconThread(queue);
        EXPECT_EQ(done, 1) << (ended ? "ended first" : "stopped at once");
    }
    for (int32_t i = 0; i < 200; i++) {
        ReconQueue* queue = startReconThread(16);
        ASSERT_NE(queue, nullptr);
        std::atomic<int32_t> count{0};
        for (int32_t k = 0; k < i % 4; k++)
            queueReconTask(queue, countTask, &count, 1);
        if (i % 3 == 0)
            endReconThread(queue);
        stopReconThread(queue);
        ASSERT_EQ(count.load(), i % 4);
    }
}

// Stopping at a mark returns once the steps before it are carried out; those
// queued after it still run, without the caller waiting for them.
TEST(ReconQueue, StoppingAtAMarkLeavesTheLaterStepsToTheWorker)
{
    ReconQueue* queue = startReconThread();
    if (!queue)
        GTEST_SKIP() << "SKIPPED: this build reconstructs on one thread";
    Hold hold;
    std::atomic<int32_t> count{0};
    // Waiting for the hold would time it out.
    stopReconThreadAt(queue, queueCountHoldCount(queue, &count, &hold));
    EXPECT_EQ(count.load(), 1);
    hold.released.store(true);
    for (int32_t polls = 0; count.load() < 2 && polls < 5000; polls++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(hold.timedOut.load());
    EXPECT_EQ(count.load(), 2);
}

// Positions pack into 32 bits below the marks wherever they fit, and only
// there.
TEST(ReconQueue, PackedPositionsStayBelowTheMarks)
{
    struct Case {
        int32_t height, width;
        uint32_t colBits;
        bool packed;
    };
    const Case cases[] = {
        {1, 1, 4, true},          {40, 40, 6, true},         {40, 64, 6, true},
        {40, 65, 7, true},        {65535, 65536, 16, true},  {65536, 65536, 16, false},
        {65536, 65535, 16, false}, {3, 1 << 30, 30, true},    {4, 1 << 30, 30, false},   {3, (1 << 30) + 1, 31, false},
        {268435455, 16, 4, true}, {268435456, 16, 4, false}, {1, 0x7fffffff, 31, true},
    };
    for (const Case& c : cases) {
        uint32_t colBits = 0;
        EXPECT_EQ(packedPositionBits(c.height, c.width, &colBits), c.packed) << c.height << " x " << c.width;
        EXPECT_EQ(colBits, c.colBits) << c.height << " x " << c.width;
        if (c.packed) {
            const uint64_t last = uint64_t(c.height - 1) << colBits | uint64_t(c.width - 1);
            EXPECT_LT(last, uint64_t(kReconMarks)) << c.height << " x " << c.width;
        }
    }
}

} // namespace

