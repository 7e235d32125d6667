#include "codec/encoder/forward_transform.h"

#include "codec/core/geometry.h"
#include "codec/encoder/parallel_tasks.h"

namespace {

struct LiftLengths {
    int32_t highs;
    int32_t lows;
};

// A line of n samples lifts its odd part (samples 0 .. m-1, m odd) into
// `highs` high and highs + 1 low values; an even length appends its last
// sample to the lows.
LiftLengths liftLengths(int32_t n)
{
    int32_t m = (n & 1) ? n : n - 1;
    return {(m - 1) / 2, (n + 2) >> 1};
}

} // namespace

void forwardLift(double* x, int32_t n, int32_t stride, double* scratch)
{
    if (n < 2)
        return;
    const auto [highs, lows] = liftLengths(n);
    double* low = scratch;
    double* high = scratch + lows;
    for (int32_t j = 0; j < highs; j++)
        high[j] = x[(2 * j + 1) * stride] - 0.5 * (x[2 * j * stride] + x[(2 * j + 2) * stride]);
    for (int32_t i = 0; i <= highs; i++) {
        double left = i > 0 ? high[i - 1] : 0.0;
        double right = i < highs ? high[i] : 0.0;
        low[i] = x[2 * i * stride] + 0.25 * (left + right);
    }
    if (!(n & 1))
        low[lows - 1] = x[(n - 1) * stride];
    for (int32_t i = 0; i < n; i++)
        x[i * stride] = scratch[i];
}

void inverseLift(double* x, int32_t n, int32_t stride, double* scratch)
{
    if (n < 2)
        return;
    const auto [highs, lows] = liftLengths(n);
    const double* low = x;
    const double* high = x + lows * stride;
    for (int32_t i = 0; i <= highs; i++) {
        double left = i > 0 ? high[(i - 1) * stride] : 0.0;
        double right = i < highs ? high[i * stride] : 0.0;
        scratch[2 * i] = low[i * stride] - 0.25 * (left + right);
    }
    for (int32_t j = 0; j < highs; j++)
        scratch[2 * j + 1] = high[j * stride] + 0.5 * (scratch[2 * j] + scratch[2 * j + 2]);
    if (!(n & 1))
        scratch[n - 1] = low[(lows - 1) * stride];
    for (int32_t i = 0; i < n; i++)
        x[i * stride] = scratch[i];
}

void adjointInverseLift(double* x, int32_t n, int32_t stride, double* scratch)
{
    if (n < 2)
        return;
    const auto [highs, lows] = liftLengths(n);
    // The inverse's steps transposed, last first: each odd sample passes its
    // weight to its high value and half of it to both even neighbours; each
    // even sample then to its low value and minus a quarter to both adjacent
    // high values.
    double* low = scratch;
    double* high = scratch + lows;
    double* even = scratch + n;
    for (int32_t i = 0; i <= highs; i++)
        even[i] = x[2 * i * stride];
    for (int32_t j = 0; j < highs; j++) {
        double odd = x[(2 * j + 1) * stride];
        high[j] = odd;
        even[j] += 0.5 * odd;
        even[j + 1] += 0.5 * odd;
    }
    for (int32_t i = 0; i <= highs; i++) {
        low[i] = even[i];
        if (i > 0)
            high[i - 1] -= 0.25 * even[i];
        if (i < highs)
            high[i] -= 0.25 * even[i];
    }
    if (!(n & 1))
        low[lows - 1] = x[(n - 1) * stride];
    for (int32_t i = 0; i < n; i++)
        x[i * stride] = scratch[i];
}

namespace {

// Levels smaller than this many samples are not worth another thread.
constexpr int64_t kParallelLevel = int64_t(1) << 16;

template <typename Lift>
void applyLevel(CoefficientPlane* plane, int32_t L, bool rowsFirst, Lift lift, int32_t threads)
{
    int32_t R = levelSize(plane->height, L);
    int32_t C = levelSize(plane->width, L);
    // Columns go kBlock at a time, so that every row is read and written a
    // cache line at a time rather than one sample per line.
    constexpr int32_t kBlock = 16;
    size_t longest = static_cast<size_t>(R > C ? R : C);
    int32_t parts = static_cast<int64_t>(R) * C >= kParallelLevel && threads > 1 ? threads : 1;
    // Every row and every column lifts on its own: each part takes a share of
    // them with lines of its own.
    auto rows = [&](size_t part) {
        std::vector<double> line(longest), scratch(2 * longest);
        int32_t first = static_cast<int32_t>(static_cast<int64_t>(R) * part / parts);
        int32_t end = static_cast<int32_t>(static_cast<int64_t>(R) * (part + 1) / parts);
        for (int32_t r = first; r < end; r++) {
            float* x = plane->row(r);
            for (int32_t i = 0; i < C; i++)
                line[i] = x[i];
            lift(line.data(), C, 1, scratch.data());
            for (int32_t i = 0; i < C; i++)
                x[i] = static_cast<float>(line[i]);
        }
    };
    auto cols = [&](size_t part) {
        std::vector<double> lines(longest * kBlock), scratch(2 * longest);
        int32_t blocks = (C + kBlock - 1) / kBlock;
        int32_t first = static_cast<int32_t>(static_cast<int64_t>(blocks) * part / parts) * kBlock;
        int32_t end = static_cast<int32_t>(static_cast<int64_t>(blocks) * (part + 1) / parts) * kBlock;
        for (int32_t c0 = first; c0 < end && c0 < C; c0 += kBlock) {
            int32_t count = C - c0 < kBlock ? C - c0 : kBlock;
            for (int32_t i = 0; i < R; i++) {
                const float* x = plane->row(i) + c0;
                for (int32_t k = 0; k < count; k++)
                    lines[static_cast<size_t>(k) * R + i] = x[k];
            }
            for (int32_t k = 0; k < count; k++)
                lift(lines.data() + static_cast<size_t>(k) * R, R, 1, scratch.data());
            for (int32_t i = 0; i < R; i++) {
                float* x = plane->row(i) + c0;
                for (int32_t k = 0; k < count; k++)
                    x[k] = static_cast<float>(lines[static_cast<size_t>(k) * R + i]);
            }
        }
    };
    size_t count = static_cast<size_t>(parts);
    if (rowsFirst) {
        runTasks(parts, count, rows);
        runTasks(parts, count, cols);
    } else {
        runTasks(parts, count, cols);
        runTasks(parts, count, rows);
    }
}

} // namespace

void forwardLevel(CoefficientPlane* plane, int32_t L, int32_t threads)
{
    applyLevel(plane, L, true, forwardLift, threads);
}

void inverseLevel(CoefficientPlane* plane, int32_t L)
{
    applyLevel(plane, L, false, inverseLift, 1);
}

void adjointInverseTransform(CoefficientPlane* plane, int32_t levels)
{
    // The inverse runs columns then rows from the coarsest level down.
    for (int32_t L = 0; L < levels; L++)
        applyLevel(plane, L, true, adjointInverseLift, 1);
}

void forwardTransform(CoefficientPlane* plane, int32_t levels)
{
    for (int32_t L = 0; L < levels; L++)
        forwardLevel(plane, L);
}

void inverseTransform(CoefficientPlane* plane, int32_t levels)
{
    for (int32_t L = levels - 1; L >= 0; L--)
        inverseLevel(plane, L);
}

double detailScale(int32_t L, int32_t band)
{
    double scale = static_cast<double>(int64_t(1) << L);
    return band == 0 || band == 1 ? scale : 0.5 * scale;
}

void forwardColour(double red, double green, double blue, double yuv[3])
{
    // The inverse of the decoder's matrix, exactly (entries in 1/125).
    yuv[0] = (34.0 * red + 76.0 * green + 15.0 * blue) / 125.0;
    yuv[1] = (76.0 * red - 36.0 * green - 40.0 * blue) / 125.0;
    yuv[2] = (24.0 * red - 64.0 * green + 40.0 * blue) / 125.0;
}

const double kLowestColourGain[3][3] = {
    {1.0, 1.0, 1.0},
    {1.0, -0.25, -1.0},
    {0.625, -0.625, 1.75},
};

double colourErrorProduct(int32_t a, int32_t b)
{
    double sum = 0.0;
    for (int32_t ch = 0; ch < 3; ch++)
        sum += kLowestColourGain[a][ch] * kLowestColourGain[b][ch];
    return sum;
}

const double kDetailColourGain[3][3] = {
    {1.0, 1.0, 1.0},
    {2.0, -0.5, -2.0},
    {1.25, -1.25, 3.5},
};
