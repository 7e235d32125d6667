#include "codec/progressive/level_grids.h"

#include "codec/session/session.h"
#include "codec/synth/level_grid.h"

namespace {

GridPlanes gridPlanesOf(const DecodeSession* session)
{
    return GridPlanes{session->planes, session->components, session->height, session->width,
                      session->halfSize != 0};
}

} // namespace

bool levelGridsOf(const DecodeSession* session, int32_t L, int32_t* grids[3])
{
    if (L >= session->levels || session->mapCoder == 3 || !session->planes)
        return false;
    return levelGridsIn(gridPlanesOf(session), L, grids);
}

void flushLevelGrids(const DecodeSession* session, int32_t L, bool again)
{
    flushLevelGridsIn(gridPlanesOf(session), L, again);
}

void clearLevelGridsTask(void* session, int32_t L)
{
    clearLevelGridsIn(gridPlanesOf(static_cast<const DecodeSession*>(session)), L);
}

void flushLevelGridsTask(void* session, int32_t L)
{
    flushLevelGrids(static_cast<const DecodeSession*>(session), L, false);
}
