// The grids in which the values of a level of a level-progressive decode
// gather before one synthesis pass per plane (level_grid.h).
#pragma once
#include <cstdint>

struct DecodeSession;

// The grids of level L, one per plane, or false (grids left as they are) when
// L's values are added one by one: where the planes have no room below the
// level, and at level 0 unless startFinestGrid made it a grid.
bool levelGridsOf(const DecodeSession* session, int32_t L, int32_t* grids[3]);

// Adds the values gathered in level L's grids into the planes; with `again`
// the grids are left zeroed for more values of the level. L must have grids.
void flushLevelGrids(const DecodeSession* session, int32_t L, bool again);

// Level L's grids zeroed, or flushed for good: tasks on the session.
void clearLevelGridsTask(void* session, int32_t L);
void flushLevelGridsTask(void* session, int32_t L);

// Level 0 fills the planes, so its grid is a block of its own: made (not yet
// cleared) for a one-thread decode of one integer plane where the grid takes
// at most half of what is left of the decode's memory budget, else its values
// are added one by one. With threads they are added on the reconstruction
// thread while the decoding thread reads on. endFinestGrid releases the
// block; both may be called again.
void startFinestGrid(DecodeSession* session);
void endFinestGrid(DecodeSession* session);
