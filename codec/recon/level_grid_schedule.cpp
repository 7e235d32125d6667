#include "codec/recon/level_grid_schedule.h"

namespace {

// True for the first thread to take level L's clearing.
bool claimGrids(ReconQueue* queue, int32_t L)
{
    const uint32_t bit = uint32_t(1) << L;
    return (queue->gridsClaimed.fetch_or(bit) & bit) == 0;
}

void clearClaimedGridsTask(void* context, int32_t L)
{
    ReconQueue* queue = static_cast<ReconQueue*>(context);
    if (claimGrids(queue, L))
        queue->clearGrids(queue->clearGridsContext, L);
}

} // namespace

void clearLevelGridsAhead(ReconQueue* queue, int32_t top, ReconTask clear, void* context)
{
    if (!queue)
        return;
    queue->clearGrids = clear;
    queue->clearGridsContext = context;
    for (int32_t L = top < kAheadGridLevels - 1 ? top : kAheadGridLevels - 1; L >= 1; L--) {
        queueReconTask(queue, clearClaimedGridsTask, queue, L);
        queue->gridsClearedMark[L] = reconMark(queue);
    }
    publishReconBlock(queue);
}

void startLevelGrids(ReconQueue* queue, int32_t L, bool hasGrids, ReconTask clear, void* context)
{
    if (!queue) {
        if (hasGrids)
            clear(context, L);
        return;
    }
    if (hasGrids) {
        const bool ahead = L < kAheadGridLevels && queue->gridsClearedMark[L] != 0;
        if (!ahead) {
            queueReconTask(queue, clear, context, L);
            waitForReconMark(queue, reconMark(queue));
        } else if (claimGrids(queue, L)) {
            // The worker has not come to it (it may not even run yet): the
            // grids are cleared here. The work queued before touches only
            // rows above the level's grids, and other levels' grids.
            clear(context, L);
        } else {
            waitForReconMark(queue, queue->gridsClearedMark[L]);
        }
    }
    // The level's values may all go to grids: the worker starts on what is
    // queued now rather than at the next hand-over.
    publishReconBlock(queue);
}

void flushLevelGridsBehind(ReconQueue* queue, int32_t L, ReconTask flush, void* context)
{
    runReconTask(queue, flush, context, L);
    if (queue)
        publishReconBlock(queue);
}
