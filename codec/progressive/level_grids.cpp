#include "codec/progressive/level_grids.h"

#include "codec/core/alloc.h"
#include "codec/core/geometry.h"
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
    if (L == 0) {
        if (!session->finestGrid)
            return false;
        grids[0] = session->finestGrid;
        grids[1] = grids[2] = nullptr;
        return true;
    }
    return levelGridsIn(gridPlanesOf(session), L, grids);
}

void flushLevelGrids(const DecodeSession* session, int32_t L, bool again)
{
    if (L == 0) {
        const int32_t h = session->height, w = session->width;
        if (session->finestGrid)
            addLevelGrid(session->planes[0], session->finestGrid, h, w, lowSize(h), lowSize(w), again);
        return;
    }
    flushLevelGridsIn(gridPlanesOf(session), L, again);
}

void clearLevelGridsTask(void* session, int32_t L)
{
    const DecodeSession* s = static_cast<const DecodeSession*>(session);
    if (L == 0) {
        const int32_t h = s->height, w = s->width;
        if (s->finestGrid)
            clearLevelGrid(s->finestGrid, h, w, lowSize(h), lowSize(w));
        return;
    }
    clearLevelGridsIn(gridPlanesOf(s), L);
}

void flushLevelGridsTask(void* session, int32_t L)
{
    flushLevelGrids(static_cast<const DecodeSession*>(session), L, false);
}

void startFinestGrid(DecodeSession* session)
{
    const int32_t h = session->height, w = session->width;
    if (session->finestGrid || session->recon || session->components != 1 || session->halfSize
        || session->mapCoder == 3 || session->levels < 1 || !session->planes || h < kLevelGridLeast
        || w < kLevelGridLeast)
        return;
    // Only where at least as much stays free for the level's context models,
    // which the grid must not crowd out: it only saves time.
    const size_t bytes = static_cast<size_t>(levelGridCells(h, w)) * sizeof(int32_t);
    const size_t limit = budgetLimit(&session->budget);
    if (session->budget.used > limit || bytes > (limit - session->budget.used) / 2)
        return;
    session->finestGrid = static_cast<int32_t*>(allocFromBudget(&session->budget, bytes));
    if (session->finestGrid)
        session->finestGridBytes = bytes;
}

void endFinestGrid(DecodeSession* session)
{
    if (!session->finestGrid)
        return;
    freeChecked(session->finestGrid);
    returnToBudget(&session->budget, session->finestGridBytes);
    session->finestGrid = nullptr;
    session->finestGridBytes = 0;
}
