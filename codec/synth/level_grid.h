// A level's detail values gathered in a grid of the level's layout, and the
// sum of their patterns added to a plane in one separable pass. The plane
// kernels' sums wrap as 32-bit integers, so the pass gives exactly what
// addCoefficientPlane gives value by value. The grid lives in the plane's
// rows below the level, which nothing reads until the next expansion.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"
#include "codec/core/force_inline.h"
#include "codec/core/prefetch.h"
#include "codec/synth/synthesis_kernels.h"

// Levels smaller than this a side are synthesised value by value.
constexpr int32_t kLevelGridLeast = 8;

// The cells of a grid of levelHeight x levelWidth with its workspace, for a
// grid in a block of its own (where the plane has no room below the level).
int64_t levelGridCells(int32_t levelHeight, int32_t levelWidth);

// The grid of the level levelHeight x levelWidth (cell row x levelWidth +
// col, for absolute layout positions) in a plane of planeRows x planeCols
// samples, or null when the rows below the level that belong to the next
// finer level cannot hold it and its workspace, or the level is too small.
int32_t* levelGridIn(Plane plane, int32_t planeRows, int32_t planeCols, int32_t levelHeight, int32_t levelWidth);

// A picture's planes as the level grids find room in them: height x width
// samples, or about half that a side with halfSize (the low-memory decode).
struct GridPlanes {
    const Plane* planes;
    int32_t components;
    int32_t height;
    int32_t width;
    bool halfSize;
};

// The grids of level L (L >= 1), one in each plane; false (grids left as they
// are) where any plane has no room for its grid.
bool levelGridsIn(const GridPlanes& p, int32_t L, int32_t* grids[3]);
// Zeroes every plane's grid of level L, or adds the values gathered there into
// the planes (addLevelGrid); nothing where L has no grids.
void clearLevelGridsIn(const GridPlanes& p, int32_t L);
void flushLevelGridsIn(const GridPlanes& p, int32_t L, bool again);

// Zeroes the detail cells of the grid (the low-low part is never used).
void clearLevelGrid(int32_t* grid, int32_t levelHeight, int32_t levelWidth, int32_t lowHeight, int32_t lowWidth);

ZR_INLINE void addGridValue(int32_t* grid, int32_t levelWidth, int32_t row, int32_t col, int32_t v)
{
    int32_t& cell = grid[static_cast<int64_t>(row) * levelWidth + col];
    cell = static_cast<int32_t>(static_cast<uint32_t>(cell) + static_cast<uint32_t>(v));
}

// The colour split of a value of `component` (splitColourValue) into the
// grids of planes 0, 1, 2; with one component into grids[0] alone.
ZR_INLINE void addColourGridValue(int32_t* const* grids, int32_t component, int32_t components, int32_t levelWidth,
                                  int32_t row, int32_t col, int32_t v)
{
    if (components == 1) {
        addGridValue(grids[0], levelWidth, row, col, v);
        return;
    }
    int32_t parts[3];
    splitColourValue(component, components, v, parts);
    for (int32_t p = 0; p < 3; p++)
        addGridValue(grids[p], levelWidth, row, col, parts[p]);
}

// Asks for the cells of `rows` rows from row, col in the grids a value goes
// to, ahead of a small rectangle's values: the walk moves between rows too
// often for the hardware to follow, and a level's grid is mostly out of the
// cache by then.
ZR_INLINE void prefetchGridRows(int32_t* const* grids, int32_t components, int32_t levelWidth, int32_t row,
                                int32_t col, int32_t rows)
{
    const int32_t planes = components == 1 ? 1 : 3;
    for (int32_t p = 0; p < planes; p++)
        for (int32_t i = 0; i < rows; i++)
            prefetchForWrite(grids[p] + static_cast<int64_t>(row + i) * levelWidth + col);
}

// Adds the patterns of the grid's values into the plane, as
// addCoefficientPlane would for each value at its position and band. With
// `again` the grid is left zeroed for more values, else its contents are
// left undefined.
void addLevelGrid(Plane plane, int32_t* grid, int32_t levelHeight, int32_t levelWidth, int32_t lowHeight,
                  int32_t lowWidth, bool again);
