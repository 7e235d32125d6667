// Reconstruction behind the entropy decoder: the decoding thread queues the
// synthesis of its values and the level expansions in order, and one worker
// thread carries them out. Items go through a ring shared by the two threads;
// the decoding thread hands them over a few hundred at a time and waits only
// when the ring is full. Each side spins briefly before it sleeps.
#pragma once
#include <atomic>
#include <cstdint>

#include "codec/core/dequantiser.h"
#include "codec/core/force_inline.h"
#include "codec/synth/synthesis_kernels.h"

// A value and its position, packed as row << colBits | col with the bits of
// the last queued target; other records start with an item whose `at` is a
// mark at or above kReconMarks.
struct ReconItem {
    int32_t value;
    uint32_t at;
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
    ReconItem* end;  // where the next hand-over is due; next itself while values go the long way
    uint32_t colBits;
    bool wideValues; // positions that do not pack into 32 bits: two items a value
    ReconWorker* worker;
    // Per level, the mark after which its grids are clear where their
    // clearing was queued ahead, else 0; a bit per level, set by the thread
    // that takes its clearing; and the clearing itself (level_grid_schedule.h).
    uint64_t gridsClearedMark[kAheadGridLevels];
    std::atomic<uint32_t> gridsClaimed;
    ReconTask clearGrids;
    void* clearGridsContext;
};

constexpr uint32_t kReconMarks = 0xfffffff0u;
enum : uint32_t { RECON_TARGET = kReconMarks, RECON_TASK, RECON_WRAP, RECON_WIDE_VALUE, RECON_SYMBOL_FORM };

// How the symbols queued after it (queueReconSymbol) become values at
// positions: each a nonzero value-coder symbol (valueOfSymbol) and a packed
// list position, (row - rowStart) << colBits | (col - colStart), below
// kReconMarks. The values go into the last queued target.
struct ReconSymbolForm {
    Dequantiser dequantiser;
    int32_t rowStart;
    int32_t colStart;
    uint32_t colBits;
};

// The column bits of a target's packed positions (at least 4, so that no
// position reaches the marks); false where its positions need more than 32
// bits.
bool packedPositionBits(int32_t levelHeight, int32_t levelWidth, uint32_t* colBits);

// Starts the worker with a ring of ringItems items (0: the usual size); null
// where threads are not built in or cannot be had (the decode then
// reconstructs on its own thread), or when the ring cannot hold a record.
ReconQueue* startReconThread(int32_t ringItems = 0);
// Finishes the queued work and releases the queue; the worker's writes are
// then visible to the caller. The worker ends on its own, without being
// waited for. Null is fine.
void stopReconThread(ReconQueue* queue);
// stopReconThread waiting only until `mark` (see reconMark): the steps queued
// after it are still carried out, without the caller.
void stopReconThreadAt(ReconQueue* queue, uint64_t mark);
// Hands the queued work over and lets the worker end as soon as it has carried
// it out; nothing may be queued after it. stopReconThread still waits for the
// work and releases the queue. Null is fine.
void endReconThread(ReconQueue* queue);
// Returns once every queued step has been carried out; the worker's writes are
// then visible to the caller. Null is fine.
void waitForRecon(ReconQueue* queue);

// The position after the steps queued so far (0 without a queue); once
// waitForReconMark(queue, mark) returns, every step queued before the mark has
// been carried out and its writes are visible to the caller.
uint64_t reconMark(const ReconQueue* queue);
void waitForReconMark(ReconQueue* queue, uint64_t mark);
// Whether waitForReconMark(queue, mark) would return at once. Null is fine.
bool reconMarkPassed(const ReconQueue* queue, uint64_t mark);

// A pause in a loop that polls what another thread is about to write.
ZR_INLINE void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// The target and geometry of the values queued after it.
void queueReconTarget(ReconQueue* queue, const CoefficientTarget& target);
void queueReconTask(ReconQueue* queue, ReconTask task, void* context, int32_t argument);
// task(context, argument) after the queued work: on the worker, or at once
// here when there is no queue.
void runReconTask(ReconQueue* queue, ReconTask task, void* context, int32_t argument);

// Hands everything queued so far to the worker, waking it, and makes room for
// more.
void publishReconBlock(ReconQueue* queue);

// queueReconValue when a batch is full or positions are wide: hands the
// items written so far over, makes room and queues the value.
void queueReconValueSlowly(ReconQueue* queue, int32_t value, int32_t row, int32_t col);

// Symbols queued after this take its form, until the next target.
void queueReconSymbolForm(ReconQueue* queue, const ReconSymbolForm& form);
// queueReconSymbol when a batch is full: hands the items written so far
// over, makes room and queues the symbol.
void queueReconSymbolSlowly(ReconQueue* queue, int32_t symbol, uint32_t at);

// A symbol at a packed position in the last queued form: the worker turns it
// into its value, which leaves the decoding thread the entropy decoding.
ZR_INLINE void queueReconSymbol(ReconQueue* queue, int32_t symbol, uint32_t at)
{
    if (queue->next == queue->end) {
        queueReconSymbolSlowly(queue, symbol, at);
        return;
    }
    *queue->next++ = ReconItem{symbol, at};
}

// addCoefficientColour(target, value, row, col) with the last queued target.
ZR_INLINE void queueReconValue(ReconQueue* queue, int32_t value, int32_t row, int32_t col)
{
    if (queue->next == queue->end) {
        queueReconValueSlowly(queue, value, row, col);
        return;
    }
    *queue->next++ = ReconItem{value, static_cast<uint32_t>(row) << queue->colBits | static_cast<uint32_t>(col)};
}
