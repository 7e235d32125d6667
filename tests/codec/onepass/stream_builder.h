// Test helpers: byte maps and an independent model of the one-pass map layout
// used to build streams.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/core/alloc.h"
#include "codec/core/array2d.h"
#include "codec/core/geometry.h"
#include "tests/support/bit_stream.h"

// A byte map of rows x cols filled with 1.
class ByteMap {
public:
    ByteMap(int32_t rows, int32_t cols)
        : rows_(rows), cols_(cols), map_(reinterpret_cast<uint8_t**>(makeArray2D(rows, cols, 1)))
    {
        std::memset(map_[0], 1, static_cast<size_t>(rows) * cols);
    }
    ~ByteMap() { freeArray2D(reinterpret_cast<void**>(map_)); }
    ByteMap(const ByteMap&) = delete;
    ByteMap& operator=(const ByteMap&) = delete;
    uint8_t** get() { return map_; }
    uint8_t& at(int32_t r, int32_t c) { return map_[r][c]; }
    int32_t count(uint8_t code) const
    {
        int32_t n = 0;
        for (int32_t i = 0; i < rows_ * cols_; i++)
            n += map_[0][i] == code;
        return n;
    }

private:
    int32_t rows_, cols_;
    uint8_t** map_;
};

// Parent of a band coordinate at the next coarser level, from the band's
// first coordinate and end at both levels (independent of the parity codes).
inline int32_t referenceParent(int32_t x, int32_t start, int32_t parentStart, int32_t parentEnd)
{
    int32_t p = parentStart + ((x - start) >> 1);
    return p < parentEnd - 1 ? p : parentEnd - 1;
}

// Marks (r, c) of band t at level L and its ancestors the reference way.
inline void referenceMark(std::vector<std::vector<uint8_t>>& map, int32_t rows, int32_t cols,
                          int32_t levels, int32_t L, int32_t t, int32_t r, int32_t c)
{
    map[r][c] = 2;
    for (int32_t k = L + 1; k < levels; k++) {
        BandRect child = bandRect(rows, cols, k - 1, t);
        BandRect parent = bandRect(rows, cols, k, t);
        r = referenceParent(r, child.rowStart, parent.rowStart, parent.rowEnd);
        c = referenceParent(c, child.colStart, parent.colStart, parent.colEnd);
        if (map[r][c] != 1)
            return;
        map[r][c] = 4;
    }
}

// Runs of untested positions between the positions `significant(r, c)` picks,
// in the raster coder's scan order, marking each pick and its ancestors the
// reference way.
template <typename Significant>
std::vector<int32_t> referenceRuns(std::vector<std::vector<uint8_t>>& map, int32_t rows, int32_t cols,
                                   int32_t levels, Significant significant)
{
    std::vector<int32_t> runs;
    int32_t run = 0;
    for (int32_t L = 0; L < levels; L++)
        for (int32_t t = 0; t < 3; t++) {
            BandRect b = bandRect(rows, cols, L, t);
            for (int32_t r = b.rowStart; r < b.rowEnd; r++)
                for (int32_t c = b.colStart; c < b.colEnd; c++) {
                    if (map[r][c] != 1)
                        continue;
                    if (!significant(r, c)) {
                        run++;
                        continue;
                    }
                    runs.push_back(run);
                    run = 0;
                    referenceMark(map, rows, cols, levels, L, t, r, c);
                }
        }
    runs.push_back(run);
    return runs;
}
