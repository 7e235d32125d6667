// Expansion throughput: items are pixels of the finer grid.
#include "codec/core/array2d.h"
#include "codec/recon/last_level_expansion.h"
#include "codec/recon/level_expansion.h"
#include "codec/recon/sharpen.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr int32_t kHeight = 1024;
constexpr int32_t kWidth = 1536;

void fillPlane(Plane plane, int32_t rows, int32_t cols, int32_t seed)
{
    for (int32_t y = 0; y < rows; y++)
        for (int32_t x = 0; x < cols; x++)
            plane[y][x] = ((y * 131 + x * 71 + seed) % 16384) - 1000;
}

void BM_ExpandLevel(benchmark::State& state)
{
    Plane plane = makePlane(kHeight, kWidth);
    fillPlane(plane, kHeight, kWidth, 0);
    for (auto _ : state) {
        // The values shrink with each in-place pass; the work does not.
        expandLevel(plane, kHeight, kWidth, 0);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kHeight * kWidth);
    freePlane(plane);
}

void BM_ExpandToGray8(benchmark::State& state)
{
    Plane plane = makePlane(kHeight / 2 + 1, kWidth / 2 + 1);
    fillPlane(plane, kHeight / 2 + 1, kWidth / 2 + 1, 1);
    PixelRows* rows = makePixelArrays(kHeight, kWidth, 1);
    for (auto _ : state) {
        expandToGray8(plane, rows[0], kHeight, kWidth);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kHeight * kWidth);
    freePixelArrays(rows, 1);
    freePlane(plane);
}

void BM_ExpandToRgb8Channel(benchmark::State& state)
{
    Plane plane = makePlane(kHeight / 2 + 1, kWidth / 2 + 1);
    fillPlane(plane, kHeight / 2 + 1, kWidth / 2 + 1, 2);
    PixelRows* rows = makePixelArrays(kHeight, kWidth, 3);
    for (auto _ : state) {
        expandToRgb8Channel(plane, rows[1], kHeight, kWidth);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kHeight * kWidth);
    freePixelArrays(rows, 3);
    freePlane(plane);
}

void BM_ExpandYuvToRgb8(benchmark::State& state)
{
    Plane* planes = makePlanes(kHeight / 2 + 1, kWidth / 2 + 1, 3);
    for (int32_t i = 0; i < 3; i++)
        fillPlane(planes[i], kHeight / 2 + 1, kWidth / 2 + 1, i * 1000);
    PixelRows* rows = makePixelArrays(kHeight, kWidth, 3);
    for (auto _ : state) {
        expandYuvToRgb8(planes, rows[0], kHeight, kWidth);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kHeight * kWidth);
    freePixelArrays(rows, 3);
    freePlanes(planes, 3);
}

void BM_SharpenPlane(benchmark::State& state)
{
    const int32_t rows = kHeight / 2 + 1, cols = kWidth / 2 + 1;
    Plane source = makePlane(rows, cols);
    Plane destination = makePlane(rows, cols);
    fillPlane(source, rows, cols, 3);
    for (auto _ : state) {
        sharpenPlane(source, destination, rows, cols, 1);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * rows * cols);
    freePlane(destination);
    freePlane(source);
}

} // namespace

BENCHMARK(BM_ExpandLevel);
BENCHMARK(BM_ExpandToGray8);
BENCHMARK(BM_ExpandToRgb8Channel);
BENCHMARK(BM_ExpandYuvToRgb8);
BENCHMARK(BM_SharpenPlane);
