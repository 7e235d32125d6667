#include "codec/progressive/level_grids.h"

#include "codec/core/geometry.h"
#include "codec/session/session.h"
#include "codec/synth/level_grid.h"

bool levelGridsOf(const DecodeSession* session, int32_t L, int32_t* grids[3])
{
    if (L >= session->levels || session->mapCoder == 3 || !session->planes)
        return false;
    // The planes' size as the decode made them.
    const int32_t planeRows = session->halfSize ? session->height / 2 + 1 : session->height;
    const int32_t planeCols = session->halfSize ? session->width / 2 + 1 : session->width;
    return levelGridsIn(session->planes, session->components, planeRows, planeCols, session->height,
                        session->width, L, grids);
}

namespace {

// Calls each(plane, grid, levelHeight, levelWidth, lowHeight, lowWidth) for
// every plane of level L that has a grid.
template <typename Each>
void forEachLevelGrid(const DecodeSession* session, int32_t L, Each each)
{
    int32_t* grids[3];
    if (!levelGridsOf(session, L, grids))
        return;
    const int32_t levelHeight = levelSize(session->height, L);
    const int32_t levelWidth = levelSize(session->width, L);
    for (int32_t c = 0; c < session->components; c++)
        each(session->planes[c], grids[c], levelHeight, levelWidth, lowSize(levelHeight),
             lowSize(levelWidth));
}

} // namespace

void clearLevelGrids(const DecodeSession* session, int32_t L)
{
    forEachLevelGrid(session, L, [](auto*, int32_t* grid, int32_t h, int32_t w, int32_t lowH, int32_t lowW) {
        clearLevelGrid(grid, h, w, lowH, lowW);
    });
}

void flushLevelGrids(const DecodeSession* session, int32_t L, bool again)
{
    forEachLevelGrid(session, L,
                     [again](auto* plane, int32_t* grid, int32_t h, int32_t w, int32_t lowH, int32_t lowW) {
                         addLevelGrid(plane, grid, h, w, lowH, lowW, again);
                     });
}
