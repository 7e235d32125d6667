// When the level grids (level_grid.h) are cleared and flushed around a
// level's values. Without a reconstruction thread both happen at once on the
// decoding thread. With one, the worker clears every level's grids ahead,
// while the decoding thread reads the coarse levels (a grid's rows are
// touched by nothing else until the expansion into the next finer level),
// and flushes each level's grids behind the decoding thread. A level the
// worker has not yet come to when its values start is cleared by the
// decoding thread instead of waited for; each level is cleared once.
#pragma once
#include <cstdint>

#include "codec/recon/recon_queue.h"

// With a queue: queues clear(context, L) for every level L from top down to
// 1, coarsest first, and hands it to the worker. clear does nothing where a
// level has no grids. Without a queue nothing happens.
void clearLevelGridsAhead(ReconQueue* queue, int32_t top, ReconTask clear, void* context);

// Before level L's values. Where L has grids (hasGrids) they are clear once
// this returns: clear(context, L) runs here without a queue, or with one
// where its clearing ahead has not started; clearing ahead under way is
// waited for, and without clearing ahead it is queued and waited for.
// Everything queued is then handed to the worker.
void startLevelGrids(ReconQueue* queue, int32_t L, bool hasGrids, ReconTask clear, void* context);

// After level L's values: flush(context, L), on the worker where there is one.
void flushLevelGridsBehind(ReconQueue* queue, int32_t L, ReconTask flush, void* context);
