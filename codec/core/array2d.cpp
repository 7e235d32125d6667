#include "codec/core/array2d.h"

#include "codec/core/alloc.h"

void** makeArray2D(int32_t rows, int32_t cols, int32_t elementSize)
{
    if (rows <= 0 || cols <= 0 || elementSize <= 0)
        return nullptr;
    size_t rowBytes = static_cast<size_t>(cols) * static_cast<size_t>(elementSize);
    size_t total = rowBytes * static_cast<size_t>(rows);
    if (rowBytes / static_cast<size_t>(elementSize) != static_cast<size_t>(cols)
        || total / static_cast<size_t>(rows) != rowBytes)
        return nullptr;
    void** table = static_cast<void**>(allocChecked(static_cast<size_t>(rows) * sizeof(void*)));
    if (!table)
        return nullptr;
    uint8_t* block = static_cast<uint8_t*>(allocChecked(total));
    if (!block) {
        freeChecked(table);
        return nullptr;
    }
    for (int32_t i = 0; i < rows; i++)
        table[i] = block + static_cast<size_t>(i) * rowBytes;
    return table;
}

void freeArray2D(void** rowTable)
{
    if (!rowTable)
        return;
    freeChecked(rowTable[0]);
    freeChecked(rowTable);
}

Plane makePlane(int32_t rows, int32_t cols)
{
    if (rows < 0 || cols < 0 || rows == INT32_MAX || cols == INT32_MAX)
        return nullptr;
    void** table = makeArray2D(rows + 1, cols + 1, sizeof(int32_t));
    if (!table)
        return nullptr;
    Plane plane = reinterpret_cast<Plane>(table);
    for (int32_t i = 0; i <= rows; i++)
        plane[i] += 1;
    return plane + 1;
}

void freePlane(Plane plane)
{
    if (!plane)
        return;
    Plane table = plane - 1;
    freeChecked(table[0] - 1);
    freeChecked(table);
}

Plane* makePlanes(int32_t rows, int32_t cols, int32_t n)
{
    if (n <= 0)
        return nullptr;
    Plane* planes = static_cast<Plane*>(allocChecked(static_cast<size_t>(n) * sizeof(Plane)));
    if (!planes)
        return nullptr;
    for (int32_t i = 0; i < n; i++) {
        planes[i] = makePlane(rows, cols);
        if (!planes[i]) {
            freePlanes(planes, i);
            return nullptr;
        }
    }
    return planes;
}

void freePlanes(Plane* planes, int32_t n)
{
    if (!planes)
        return;
    for (int32_t i = 0; i < n; i++)
        freePlane(planes[i]);
    freeChecked(planes);
}

PixelRows* makePixelArrays(int32_t rows, int32_t bytesPerComponentRow, int32_t n)
{
    if (n <= 0 || bytesPerComponentRow <= 0 || bytesPerComponentRow > INT32_MAX / n)
        return nullptr;
    PixelRows* arrays = static_cast<PixelRows*>(allocChecked(static_cast<size_t>(n) * sizeof(PixelRows)));
    if (!arrays)
        return nullptr;
    arrays[0] = reinterpret_cast<PixelRows>(makeArray2D(rows, bytesPerComponentRow * n, 1));
    if (!arrays[0]) {
        freeChecked(arrays);
        return nullptr;
    }
    for (int32_t i = 1; i < n; i++) {
        arrays[i] = static_cast<PixelRows>(allocChecked(static_cast<size_t>(rows) * sizeof(uint8_t*)));
        if (!arrays[i]) {
            for (int32_t k = 1; k < i; k++)
                freeChecked(arrays[k]);
            freeArray2D(reinterpret_cast<void**>(arrays[0]));
            freeChecked(arrays);
            return nullptr;
        }
        for (int32_t j = 0; j < rows; j++)
            arrays[i][j] = arrays[0][j] + i;
    }
    return arrays;
}

void freePixelArrays(PixelRows* arrays, int32_t n)
{
    freeChecked(takePixelBlock(arrays, n));
}

uint8_t* takePixelBlock(PixelRows* arrays, int32_t n)
{
    if (!arrays)
        return nullptr;
    uint8_t* block = arrays[0][0];
    for (int32_t i = 1; i < n; i++)
        freeChecked(arrays[i]);
    freeChecked(arrays[0]);
    freeChecked(arrays);
    return block;
}
