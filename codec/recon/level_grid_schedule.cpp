#include "codec/recon/level_grid_schedule.h"

void clearLevelGridsAhead(ReconQueue* queue, int32_t top, ReconTask clear, void* context)
{
    if (!queue)
        return;
    for (int32_t L = top < kAheadGridLevels - 1 ? top : kAheadGridLevels - 1; L >= 1; L--) {
        queueReconTask(queue, clear, context, L);
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
        if (!ahead)
            queueReconTask(queue, clear, context, L);
        waitForReconMark(queue, ahead ? queue->gridsClearedMark[L] : reconMark(queue));
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
