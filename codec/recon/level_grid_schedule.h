// When the level grids (level_grid.h) are cleared and flushed around a
// level's values. Without a reconstruction thread both happen at once on the
// decoding thread. With one, the worker clears a level's grids while the level
// above is decoded (nothing else touches those rows until the level's
// expansion) and flushes them behind the decoding thread.
#pragma once
#include <cstdint>

#include "codec/recon/recon_queue.h"

// Before level L's values. Where L has grids (hasGrids) they are clear once
// this returns: clear(context, L) runs here without a queue; with one it is
// queued (unless it was queued ahead) and waited for. With a queue, the
// clearing of level L - 1's grids is then queued ahead where that level has
// grids (nextHasGrids), and everything queued is handed to the worker.
void clearLevelGridsAhead(ReconQueue* queue, int32_t L, bool hasGrids, bool nextHasGrids, ReconTask clear,
                          void* context);

// After level L's values: flush(context, L), on the worker where there is one.
void flushLevelGridsBehind(ReconQueue* queue, int32_t L, ReconTask flush, void* context);
