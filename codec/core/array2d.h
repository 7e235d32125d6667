// Two-dimensional arrays, planes with a guard border, and the interleaved
// pixel block.
#pragma once
#include <cstdint>

typedef int32_t** Plane;          // rows and columns -1..n-1 are valid
typedef uint8_t** PixelRows;       // row table of one component

// A table of `rows` row pointers into one contiguous block of rows x cols
// elements of elementSize bytes. Null if any allocation fails.
void** makeArray2D(int32_t rows, int32_t cols, int32_t elementSize);
void freeArray2D(void** rowTable);

// rows x cols int32 samples plus a guard row and column at index -1. The
// contents are not cleared.
Plane makePlane(int32_t rows, int32_t cols);
void freePlane(Plane plane);

// n planes of equal size, all or nothing.
Plane* makePlanes(int32_t rows, int32_t cols, int32_t n);
void freePlanes(Plane* planes, int32_t n);

// One block of rows x (bytesPerComponentRow x n) bytes holding n components
// interleaved; table[i][j] is row j of component i (row j of component 0
// plus i bytes).
PixelRows* makePixelArrays(int32_t rows, int32_t bytesPerComponentRow, int32_t n);
void freePixelArrays(PixelRows* arrays, int32_t n);
// Hands out the block (free it with freeChecked) and frees the row tables.
uint8_t* takePixelBlock(PixelRows* arrays, int32_t n);
