// Reconstruction behind the entropy decoder: the decoding thread queues the
// synthesis of its values and the level expansions in order, and one worker
// thread carries them out. Items go through a ring shared by the two threads;
// the decoding thread hands them over a few hundred at a time and waits only
// when the ring is full. Each side spins briefly before it sleeps.
#pragma once
#include <atomic>
#include <cstdint>

#include "codec/core/force_inline.h"
#include "codec/synth/synthesis_kernels.h"

struct ReconItem {
    int32_t op;
    int32_t row;
    int32_t col;
    int32_t value;
};

// A queued step of work other than a value: fn(context, argument).
typedef void (*ReconTask)(void* context, int32_t argument);

struct ReconWorker; // the ring, the counters and the thread

// Levels whose grids can be cleared ahead: all that can have grids (a grid
// needs a level of at least 8 samples a side, so a picture side of more than
// 2^(L+2) samples; sides stay below 2^31).
constexpr int32_t kAheadGridLevels = 32;

struct ReconQueue {
    ReconItem* next; // free space being filled
    ReconItem* end;  // where publishReconBlock is due
    ReconWorker* worker;
    // Per level, the mark after which its grids are clear where their
    // clearing was queued ahead, else 0; a bit per level, set by the thread
    // that takes its clearing; and the clearing itself (level_grid_schedule.h).
    uint64_t gridsClearedMark[kAheadGridLevels];
    std::atomic<uint32_t> gridsClaimed;
    ReconTask clearGrids;
    void* clearGridsContext;
};

enum : int32_t { RECON_VALUE = 0, RECON_TARGET = 1, RECON_TASK = 2, RECON_WRAP = 3 };

// Starts the worker with a ring of ringItems items (0: the usual size); null
// where threads are not built in or cannot be had (the decode then
// reconstructs on its own thread), or when the ring cannot hold a record.
ReconQueue* startReconThread(int32_t ringItems = 0);
// Finishes the queued work, ends the worker and releases the queue. Null is fine.
void stopReconThread(ReconQueue* queue);
// Returns once every queued step has been carried out; the worker's writes are
// then visible to the caller. Null is fine.
void waitForRecon(ReconQueue* queue);

// The position after the steps queued so far (0 without a queue); once
// waitForReconMark(queue, mark) returns, every step queued before the mark has
// been carried out and its writes are visible to the caller.
uint64_t reconMark(const ReconQueue* queue);
void waitForReconMark(ReconQueue* queue, uint64_t mark);

// The target and geometry of the values queued after it.
void queueReconTarget(ReconQueue* queue, const CoefficientTarget& target);
void queueReconTask(ReconQueue* queue, ReconTask task, void* context, int32_t argument);
// task(context, argument) after the queued work: on the worker, or at once
// here when there is no queue.
void runReconTask(ReconQueue* queue, ReconTask task, void* context, int32_t argument);

// Hands everything queued so far to the worker, waking it, and makes room for
// more.
void publishReconBlock(ReconQueue* queue);

// Hands the items written so far over when a batch is full, and makes room.
void refillReconQueue(ReconQueue* queue);

// addCoefficientColour(target, value, row, col) with the last queued target.
ZR_INLINE void queueReconValue(ReconQueue* queue, int32_t value, int32_t row, int32_t col)
{
    if (queue->next == queue->end)
        refillReconQueue(queue);
    *queue->next++ = ReconItem{RECON_VALUE, row, col, value};
}
