// Kernel calls per second: one call per coefficient of every band of a level.
#include "codec/core/array2d.h"
#include "codec/core/geometry.h"
#include "codec/synth/synthesis_kernels.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr int32_t kSide = 512;

template <class Target, class Kernel>
void runKernel(benchmark::State& state, Target target, Kernel kernel)
{
    const int32_t n = static_cast<int32_t>(state.range(0));
    const int32_t low = lowSize(n);
    int64_t calls = 0;
    int32_t v = 82;
    for (auto _ : state) {
        for (int32_t band = 0; band < 3; band++) {
            const BandRect r = bandRect(n, n, 0, band);
            for (int32_t row = r.rowStart; row < r.rowEnd; row++)
                for (int32_t col = r.colStart; col < r.colEnd; col++) {
                    kernel(target, v, n, n, low, low, band, row, col);
                    v = -v ^ 1;
                }
            calls += static_cast<int64_t>(r.rowEnd - r.rowStart) * (r.colEnd - r.colStart);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(calls);
}

void BM_AddCoefficientPlane(benchmark::State& state)
{
    Plane plane = makePlane(kSide, kSide);
    for (int32_t y = 0; y < kSide; y++)
        std::memset(plane[y], 0, kSide * sizeof(int32_t));
    runKernel(state, plane, addCoefficientPlane);
    freePlane(plane);
}

void BM_AddCoefficientGray8(benchmark::State& state)
{
    PixelRows* rows = makePixelArrays(kSide, kSide, 1);
    std::memset(rows[0][0], 128, kSide * kSide);
    runKernel(state, rows[0], addCoefficientGray8);
    freePixelArrays(rows, 1);
}

void BM_AddCoefficientRgb8(benchmark::State& state)
{
    PixelRows* rows = makePixelArrays(kSide, kSide, 3);
    std::memset(rows[0][0], 128, kSide * kSide * 3);
    runKernel(state, rows[1], addCoefficientRgb8);
    freePixelArrays(rows, 3);
}

} // namespace

BENCHMARK(BM_AddCoefficientPlane)->Arg(64)->Arg(512);
BENCHMARK(BM_AddCoefficientGray8)->Arg(64)->Arg(512);
BENCHMARK(BM_AddCoefficientRgb8)->Arg(64)->Arg(512);
