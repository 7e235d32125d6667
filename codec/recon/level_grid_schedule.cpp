#include "codec/recon/level_grid_schedule.h"

void clearLevelGridsAhead(ReconQueue* queue, int32_t L, bool hasGrids, bool nextHasGrids, ReconTask clear,
                          void* context)
{
    if (!queue) {
        if (hasGrids)
            clear(context, L);
        return;
    }
    if (hasGrids) {
        if (queue->gridsAheadLevel != L) {
            queueReconTask(queue, clear, context, L);
            queue->gridsAheadMark = reconMark(queue);
        }
        waitForReconMark(queue, queue->gridsAheadMark);
    }
    if (L > 1 && nextHasGrids) {
        queueReconTask(queue, clear, context, L - 1);
        queue->gridsAheadLevel = L - 1;
        queue->gridsAheadMark = reconMark(queue);
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
