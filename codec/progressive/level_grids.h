// The grids in which the values of a level of a level-progressive decode
// gather before one synthesis pass per plane (level_grid.h).
#pragma once
#include <cstdint>

struct DecodeSession;

// The grids of level L, one per plane, or false (grids left as they are) when
// L's values are added one by one: at level 0, where the value coders add
// nothing, and where the planes have no room below the level.
bool levelGridsOf(const DecodeSession* session, int32_t L, int32_t* grids[3]);

// Adds the values gathered in level L's grids into the planes; with `again`
// the grids are left zeroed for more values of the level. L must have grids.
void flushLevelGrids(const DecodeSession* session, int32_t L, bool again);

// Level L's grids zeroed, or flushed for good: tasks on the session.
void clearLevelGridsTask(void* session, int32_t L);
void flushLevelGridsTask(void* session, int32_t L);
