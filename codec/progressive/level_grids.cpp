#include "codec/progressive/level_grids.h"

#include "codec/core/geometry.h"
#include "codec/session/session.h"
#include "codec/synth/level_grid.h"

bool levelGridsOf(const DecodeSession* session, int32_t L, int32_t* grids[3])
{
    if (L < 1 || L >= session->levels || session->mapCoder == 3 || !session->planes)
        return false;
    // The planes' size as the decode made them.
    const int32_t planeRows = session->halfSize ? session->height / 2 + 1 : session->height;
    const int32_t planeCols = session->halfSize ? session->width / 2 + 1 : session->width;
    const int32_t levelHeight = levelSize(session->height, L);
    const int32_t levelWidth = levelSize(session->width, L);
    int32_t* found[3] = {nullptr, nullptr, nullptr};
    for (int32_t c = 0; c < session->components; c++) {
        found[c] = levelGridIn(session->planes[c], planeRows, planeCols, levelHeight, levelWidth);
        if (!found[c])
            return false;
    }
    for (int32_t c = 0; c < 3; c++)
        grids[c] = found[c];
    return true;
}

void clearLevelGrids(const DecodeSession* session, int32_t L)
{
    int32_t* grids[3];
    if (!levelGridsOf(session, L, grids))
        return;
    const int32_t levelHeight = levelSize(session->height, L);
    const int32_t levelWidth = levelSize(session->width, L);
    for (int32_t c = 0; c < session->components; c++)
        clearLevelGrid(grids[c], levelHeight, levelWidth, lowSize(levelHeight), lowSize(levelWidth));
}

void flushLevelGrids(const DecodeSession* session, int32_t L, bool again)
{
    int32_t* grids[3];
    if (!levelGridsOf(session, L, grids))
        return;
    const int32_t levelHeight = levelSize(session->height, L);
    const int32_t levelWidth = levelSize(session->width, L);
    for (int32_t c = 0; c < session->components; c++)
        addLevelGrid(session->planes[c], grids[c], levelHeight, levelWidth, lowSize(levelHeight),
                     lowSize(levelWidth), again);
}
