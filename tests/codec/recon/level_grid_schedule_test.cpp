#include "codec/recon/level_grid_schedule.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr int32_t kLevels = 6;

// Counts per level how often its grids were cleared and flushed; a flush
// records the clear count it found.
struct GridLog {
    std::atomic<int32_t> cleared[kLevels];
    std::atomic<int32_t> flushed[kLevels];
    std::atomic<int32_t> clearedAtFlush[kLevels];
    std::thread::id clearedBy[kLevels];
    GridLog()
    {
        for (int32_t L = 0; L < kLevels; L++) {
            cleared[L].store(0);
            flushed[L].store(0);
            clearedAtFlush[L].store(-1);
        }
    }
};

// Levels 5 down to 0 as the drivers run them: level 0 and level 3 without
// grids (too small, or the data ended), the others with.
bool hasGrids(int32_t L)
{
    return L >= 1 && L != 3;
}

// As the drivers' clearing, which does nothing where a level has no grids.
void clearTask(void* context, int32_t L)
{
    if (hasGrids(L)) {
        GridLog* log = static_cast<GridLog*>(context);
        log->clearedBy[L] = std::this_thread::get_id();
        log->cleared[L].fetch_add(1);
    }
}

void flushTask(void* context, int32_t L)
{
    GridLog* log = static_cast<GridLog*>(context);
    log->clearedAtFlush[L].store(log->cleared[L].load());
    log->flushed[L].fetch_add(1);
}

void runLevels(ReconQueue* queue, GridLog* log, bool ahead)
{
    if (ahead)
        clearLevelGridsAhead(queue, kLevels - 1, clearTask, log);
    for (int32_t L = kLevels - 1; L >= 0; L--) {
        startLevelGrids(queue, L, hasGrids(L), clearTask, log);
        if (hasGrids(L)) {
            EXPECT_EQ(log->cleared[L].load(), 1) << "level " << L << " not clear before its values";
            flushLevelGridsBehind(queue, L, flushTask, log);
        }
    }
    waitForRecon(queue);
}

void expectEachGridLevelClearedOnceThenFlushed(const GridLog& log)
{
    for (int32_t L = 0; L < kLevels; L++) {
        const int32_t expected = hasGrids(L) ? 1 : 0;
        EXPECT_EQ(log.cleared[L].load(), expected) << "level " << L;
        EXPECT_EQ(log.flushed[L].load(), expected) << "level " << L;
        if (hasGrids(L)) {
            EXPECT_EQ(log.clearedAtFlush[L].load(), 1) << "level " << L << " flushed before its clearing";
        }
    }
}

} // namespace

TEST(LevelGridSchedule, ClearsEachLevelOnceBeforeItsValuesOnOneThread)
{
    for (bool ahead : {false, true}) {
        GridLog log;
        runLevels(nullptr, &log, ahead);
        expectEachGridLevelClearedOnceThenFlushed(log);
    }
}

// With a worker, grids cleared ahead must not be cleared again when their
// level starts; without clearing ahead each level's grids are cleared as it
// starts.
TEST(LevelGridSchedule, ClearsEachLevelOnceBeforeItsValuesWithAWorker)
{
    for (int32_t ringItems : {10, 0}) {
        for (bool ahead : {false, true}) {
            ReconQueue* queue = startReconThread(ringItems);
            if (!queue)
                GTEST_SKIP() << "SKIPPED: this build reconstructs on one thread";
            GridLog log;
            runLevels(queue, &log, ahead);
            stopReconThread(queue);
            expectEachGridLevelClearedOnceThenFlushed(log);
        }
    }
}

namespace {

// Holds the worker until the gate opens; gives up after some seconds, so
// that a schedule that waits for the held worker fails instead of hanging.
void holdTask(void* gate, int32_t)
{
    for (int32_t i = 0; i < 5000 && !static_cast<std::atomic<bool>*>(gate)->load(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

// A level whose clearing ahead the worker has not come to (here it is held
// in earlier work) is cleared by the decoding thread at once; the worker's
// queued clearing then leaves it alone.
TEST(LevelGridSchedule, ClearsALevelTheWorkerHasNotComeToOnTheDecodingThread)
{
    ReconQueue* queue = startReconThread();
    if (!queue)
        GTEST_SKIP() << "SKIPPED: this build reconstructs on one thread";
    std::atomic<bool> gate{false};
    queueReconTask(queue, holdTask, &gate, 0);
    publishReconBlock(queue);
    GridLog log;
    clearLevelGridsAhead(queue, kLevels - 1, clearTask, &log);
    startLevelGrids(queue, kLevels - 1, true, clearTask, &log);
    EXPECT_EQ(log.cleared[kLevels - 1].load(), 1);
    EXPECT_EQ(log.clearedBy[kLevels - 1], std::this_thread::get_id());
    gate.store(true);
    flushLevelGridsBehind(queue, kLevels - 1, flushTask, &log);
    for (int32_t L = kLevels - 2; L >= 0; L--) {
        startLevelGrids(queue, L, hasGrids(L), clearTask, &log);
        if (hasGrids(L))
            flushLevelGridsBehind(queue, L, flushTask, &log);
    }
    stopReconThread(queue);
    expectEachGridLevelClearedOnceThenFlushed(log);
}
