#include "codec/synth/level_grid.h"
#include "codec/synth/synthesis_kernels.h"
#include "codec/core/geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

struct Level {
    int32_t height, width, lowHeight, lowWidth;
};

Level levelOf(int32_t h, int32_t w) { return {h, w, (h + 2) >> 1, (w + 2) >> 1}; }

int32_t bandOf(const Level& l, int32_t row, int32_t col)
{
    return row < l.lowHeight ? 0 : col < l.lowWidth ? 1 : 2;
}

// Two planes of the same size and contents, one for the kernels and one for
// the grid.
struct PlanePair {
    Plane kernels, grid;
    int32_t rows, cols;
    PlanePair(int32_t r, int32_t c, std::mt19937& rng) : rows(r), cols(c)
    {
        kernels = makePlane(r, c);
        grid = makePlane(r, c);
        for (int32_t y = -1; y < r; y++)
            for (int32_t x = -1; x < c; x++)
                kernels[y][x] = grid[y][x] = static_cast<int32_t>(rng());
    }
    ~PlanePair()
    {
        freePlane(kernels);
        freePlane(grid);
    }
    // The level's region and the guard row and column above and left of it.
    void expectLevelEqual(const Level& l) const
    {
        for (int32_t y = -1; y < l.height; y++)
            for (int32_t x = -1; x < l.width; x++)
                ASSERT_EQ(kernels[y][x], grid[y][x]) << "sample " << y << ", " << x;
    }
};

// Values at random detail positions (some repeated, some huge, so that sums
// wrap), added value by value by the kernels and gathered in the grid; the
// grid is flushed after `flushes` parts of the values.
void compareLevel(int32_t h, int32_t w, int32_t planeRows, int32_t planeCols, int32_t count, int32_t flushes,
                  std::mt19937& rng)
{
    PlanePair planes(planeRows, planeCols, rng);
    const Level l = levelOf(h, w);
    int32_t* grid = levelGridIn(planes.grid, planeRows, planeCols, h, w);
    ASSERT_NE(grid, nullptr) << h << " x " << w << " in " << planeRows << " x " << planeCols;
    clearLevelGrid(grid, h, w, l.lowHeight, l.lowWidth);
    std::uniform_int_distribution<int32_t> rowAt(0, h - 1), colAt(0, w - 1);
    for (int32_t part = 0; part < flushes; part++) {
        for (int32_t n = 0; n < count; n++) {
            int32_t row, col;
            do {
                row = rowAt(rng);
                col = colAt(rng);
            } while (row < l.lowHeight && col < l.lowWidth);
            const int32_t v = n % 7 == 0 ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % 2001) - 1000;
            addCoefficientPlane(planes.kernels, v, h, w, l.lowHeight, l.lowWidth, bandOf(l, row, col), row, col);
            addGridValue(grid, w, row, col, v);
        }
        addLevelGrid(planes.grid, grid, h, w, l.lowHeight, l.lowWidth, part + 1 < flushes);
        planes.expectLevelEqual(l);
    }
}

} // namespace

TEST(LevelGrid, GivesTheKernelsSumsAtEverySizeAndParity)
{
    std::mt19937 rng(15);
    for (int32_t h = kLevelGridLeast; h <= 24; h++) {
        for (int32_t w = kLevelGridLeast; w <= 24; w++) {
            compareLevel(h, w, 2 * h, 2 * w, h * w / 3, 1, rng);
            if (HasFatalFailure())
                return;
        }
    }
    // A level with a single value, and a wider one.
    compareLevel(9, 12, 18, 24, 1, 1, rng);
    compareLevel(65, 129, 129, 257, 4000, 1, rng);
}

TEST(LevelGrid, FlushesInPartsAndLeavesTheGridClear)
{
    std::mt19937 rng(16);
    // Sparse parts leave most rows empty; an empty part adds nothing.
    compareLevel(33, 40, 65, 79, 5, 4, rng);
    compareLevel(20, 17, 40, 33, 0, 2, rng);
    compareLevel(20, 17, 40, 33, 300, 3, rng);
}

// A reconstruction thread clears a level's grid while the level above is
// decoded and flushed: each grid with its workspace must lie in the rows
// between its level and the next finer one, for whole and half-size planes.
TEST(LevelGrid, EachLevelsGridLiesBetweenItAndTheNextFinerLevel)
{
    for (int32_t H : {8, 15, 16, 17, 31, 64, 67, 130, 257}) {
        for (int32_t W : {8, 9, 33, 64, 101, 260}) {
            for (bool half : {false, true}) {
                const int32_t rows = half ? H / 2 + 1 : H, cols = half ? W / 2 + 1 : W;
                Plane plane = makePlane(rows, cols);
                for (int32_t L = 1; L < 10; L++) {
                    const int32_t h = levelSize(H, L), w = levelSize(W, L);
                    const int32_t* grid = levelGridIn(plane, rows, cols, h, w);
                    if (!grid)
                        continue;
                    const int32_t finer = std::min(levelSize(H, L - 1), rows);
                    const int32_t* end = grid + int64_t(h) * w + 2 * w + h + 2;
                    EXPECT_GE(grid, plane[h - 1] + cols + 1) << H << " x " << W << " level " << L;
                    EXPECT_LE(end, plane[finer - 1] + cols) << H << " x " << W << " level " << L;
                }
                freePlane(plane);
            }
        }
    }
}

TEST(LevelGrid, FitsOnlyBelowTheLevelWithItsWorkspace)
{
    Plane plane = makePlane(40, 40);
    // Level 1 of a full-size plane fits; a level as tall as the plane, a
    // level too small, or rows too short for the workspace do not.
    EXPECT_EQ(levelGridIn(plane, 40, 40, 21, 21), plane[20] + 41);
    EXPECT_EQ(levelGridIn(plane, 40, 40, 40, 20), nullptr);
    EXPECT_EQ(levelGridIn(plane, 40, 40, 7, 20), nullptr);
    EXPECT_EQ(levelGridIn(plane, 40, 40, 20, 41), nullptr);
    // Below a 19-row level only the 17 rows the next finer level has at
    // least are used, not the plane's 21: 17 x 41 - 1 = 696 cells hold
    // 19 x 32 + 2 x 32 + 19 + 2 = 693 but not 19 x 33 + 2 x 33 + 19 + 2 = 714.
    EXPECT_NE(levelGridIn(plane, 40, 40, 19, 32), nullptr);
    EXPECT_EQ(levelGridIn(plane, 40, 40, 19, 33), nullptr);
    freePlane(plane);
}
