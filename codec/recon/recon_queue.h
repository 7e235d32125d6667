// Reconstruction behind the entropy decoder: the decoding thread queues the
// synthesis of its values and the level expansions in order, and one worker
// thread carries them out. Work is handed over in blocks, never per value;
// the queue is bounded, so the decoding thread waits when it runs too far ahead.
#pragma once
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

struct ReconWorker; // the blocks, the lock and the thread

struct ReconQueue {
    ReconItem* next; // free space of the block being filled
    ReconItem* end;
    ReconWorker* worker;
};

enum : int32_t { RECON_VALUE = 0, RECON_TARGET = 1, RECON_TASK = 2 };

// Starts the worker; null where threads are not built in or cannot be had
// (the decode then reconstructs on its own thread).
ReconQueue* startReconThread();
// Finishes the queued work, ends the worker and releases the queue. Null is fine.
void stopReconThread(ReconQueue* queue);
// Returns once every queued step has been carried out; the worker's writes are
// then visible to the caller. Null is fine.
void waitForRecon(ReconQueue* queue);

// The target and geometry of the values queued after it.
void queueReconTarget(ReconQueue* queue, const CoefficientTarget& target);
void queueReconTask(ReconQueue* queue, ReconTask task, void* context, int32_t argument);
// task(context, argument) after the queued work: on the worker, or at once
// here when there is no queue.
void runReconTask(ReconQueue* queue, ReconTask task, void* context, int32_t argument);

// Hands the full block over and starts the next one.
void publishReconBlock(ReconQueue* queue);

// addCoefficientColour(target, value, row, col) with the last queued target.
ZR_INLINE void queueReconValue(ReconQueue* queue, int32_t value, int32_t row, int32_t col)
{
    if (queue->next == queue->end)
        publishReconBlock(queue);
    *queue->next++ = ReconItem{RECON_VALUE, row, col, value};
}
