#include "codec/encoder/tile_sample.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "codec/core/geometry.h"
#include "codec/encoder/large_arrays.h"
#include "codec/encoder/parallel_tasks.h"

namespace {

constexpr int32_t kTile = 128;

// About log2(2m) for m at least 1/2, else 0: the bits a magnitude of m
// steps takes, roughly, from its float's exponent alone.
inline int32_t magnitudeBits(float m)
{
    uint32_t bits;
    std::memcpy(&bits, &m, sizeof bits);
    int32_t e = static_cast<int32_t>((bits >> 23) & 255) - 127;
    return e >= -1 ? e + 2 : 0;
}

// Copies, for every sample tile (a, b), picture tile `chosen[a * across + b]`'s
// share of the rectangle `to` of the sample's plane from the rectangle `from`
// of `source` (whose tiles are `pictureAcross` wide), span positions a tile.
void copyTiles(const CoefficientPlane& source, const BandRect& from, CoefficientPlane* plane, const BandRect& to,
               int32_t span, const std::vector<int32_t>& chosen, int32_t down, int32_t across,
               int32_t pictureAcross)
{
    int32_t rows = from.rowEnd - from.rowStart, cols = from.colEnd - from.colStart;
    if (rows <= 0 || cols <= 0 || span <= 0)
        return;
    for (int32_t r = to.rowStart; r < to.rowEnd; r++) {
        int32_t i = r - to.rowStart;
        int32_t a = i / span < down ? i / span : down - 1;
        float* out = plane->row(r);
        for (int32_t col = to.colStart; col < to.colEnd; col++) {
            int32_t j = col - to.colStart;
            int32_t b = j / span < across ? j / span : across - 1;
            int32_t tile = chosen[static_cast<size_t>(a) * across + b];
            // The last tile also takes the band's extra positions.
            int32_t sr = (tile / pictureAcross) * span + (i - a * span);
            int32_t sc = (tile % pictureAcross) * span + (j - b * span);
            sr = sr < rows ? sr : rows - 1;
            sc = sc < cols ? sc : cols - 1;
            out[col] = source.row(from.rowStart + sr)[from.colStart + sc];
        }
    }
}

} // namespace

std::vector<double> tileDetail(const PreparedPicture& prepared, int32_t tile, double step, int32_t threads)
{
    int32_t down = prepared.height / tile, across = prepared.width / tile;
    std::vector<double> detail(static_cast<size_t>(down > 0 ? down : 0) * (across > 0 ? across : 0), 0.0);
    if (detail.empty())
        return detail;
    // One task per component and band orientation, each summing its own
    // tiles' bits (whole numbers: the total is the same in any order).
    size_t tasks = static_cast<size_t>(prepared.components) * 3;
    std::vector<std::vector<int64_t>> sums(tasks, std::vector<int64_t>(detail.size(), 0));
    runTasks(threads, tasks, [&](size_t task) {
        int32_t c = static_cast<int32_t>(task / 3), b = static_cast<int32_t>(task % 3);
        const CoefficientPlane& plane = prepared.planes[c];
        for (int32_t L = 0; L < prepared.levels && (tile >> (L + 1)) > 0; L++) {
            int32_t span = tile >> (L + 1);
            BandRect rect = bandRect(prepared.height, prepared.width, L, b);
            // Chroma is coded at half the scale (see the planner).
            auto scale = static_cast<float>(detailScale(L, b) * (c > 0 ? 0.5 : 1.0) / step);
            int32_t rowEnd = std::min(rect.rowEnd, rect.rowStart + down * span);
            int32_t colEnd = std::min(rect.colEnd, rect.colStart + across * span);
            int32_t width = colEnd - rect.colStart;
            for (int32_t r = rect.rowStart; r < rowEnd; r++) {
                const float* row = plane.row(r) + rect.colStart;
                int64_t* line = sums[task].data() + static_cast<size_t>((r - rect.rowStart) / span) * across;
                for (int32_t t = 0, start = 0; start < width; t++, start += span) {
                    int32_t end = std::min(start + span, width);
                    int32_t bits = 0;
                    for (int32_t col = start; col < end; col++)
                        bits += magnitudeBits(std::fabs(row[col]) * scale);
                    line[t] += bits;
                }
            }
        }
    });
    for (size_t i = 0; i < detail.size(); i++) {
        int64_t sum = 0;
        for (const std::vector<int64_t>& part : sums)
            sum += part[i];
        detail[i] = static_cast<double>(sum);
    }
    return detail;
}

std::vector<int32_t> tilesAcrossRanks(const std::vector<double>& detail, size_t count)
{
    std::vector<int32_t> order(detail.size());
    for (size_t i = 0; i < order.size(); i++)
        order[i] = static_cast<int32_t>(i);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return detail[a] < detail[b]; });
    std::vector<int32_t> chosen;
    if (count == 0 || count > order.size())
        return chosen;
    chosen.resize(count);
    // The middle rank of each of `count` equal runs of ranks.
    for (size_t k = 0; k < count; k++)
        chosen[k] = order[(2 * k + 1) * order.size() / (2 * count)];
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}

bool takeTileSample(const PreparedPicture& prepared, TileSample* sample, int32_t threads)
{
    int64_t area = static_cast<int64_t>(prepared.height) * prepared.width;
    if (area < kSampleFrom || prepared.levels <= 0)
        return false;
    int32_t groupRows = area >= 4 * kSampleFrom ? 4 : 2, groupCols = 4;
    // Tiles whose every level, the sample's lowest band included, holds at
    // least one position of each.
    int32_t tile = kTile, down = 0, across = 0, levels = 0;
    for (;;) {
        down = prepared.height / tile / groupRows;
        across = prepared.width / tile / groupCols;
        if (down < 2 || across < 2)
            return false;
        levels = levelCount(down * tile, across * tile);
        if ((tile >> levels) > 0)
            break;
        tile *= 2;
    }
    if (levels > prepared.levels)
        return false;
    int32_t pictureAcross = prepared.width / tile;
    double step = static_cast<double>(int64_t(16) << (prepared.bitsPerSample > 8 ? prepared.bitsPerSample - 8 : 0));
    std::vector<int32_t> chosen
        = tilesAcrossRanks(tileDetail(prepared, tile, step, threads), static_cast<size_t>(down) * across);
    if (chosen.empty())
        return false;

    PreparedPicture& p = sample->prepared;
    p.height = down * tile;
    p.width = across * tile;
    p.components = prepared.components;
    p.bitsPerSample = prepared.bitsPerSample;
    p.levels = levels;
    p.sharpenedFor = prepared.sharpenedFor;
    runTasks(threads, static_cast<size_t>(prepared.components), [&](size_t c) {
        CoefficientPlane& plane = p.planes[c];
        plane.height = p.height;
        plane.width = p.width;
        fillLargeArray(&plane.samples, static_cast<size_t>(p.height) * p.width, 0.0f);
        for (int32_t L = 0; L < levels; L++)
            for (int32_t b = 0; b < 3; b++)
                copyTiles(prepared.planes[c], bandRect(prepared.height, prepared.width, L, b), &plane,
                          bandRect(p.height, p.width, L, b), tile >> (L + 1), chosen, down, across, pictureAcross);
        // The lowest band: the picture's own where the levels agree, else
        // its coarser levels synthesised down to the sample's lowest level.
        CoefficientPlane coarse;
        coarse.height = levelSize(prepared.height, levels);
        coarse.width = levelSize(prepared.width, levels);
        coarse.samples.resize(static_cast<size_t>(coarse.height) * coarse.width);
        for (int32_t r = 0; r < coarse.height; r++)
            std::copy_n(prepared.planes[c].row(r), coarse.width, coarse.row(r));
        inverseTransform(&coarse, prepared.levels - levels);
        BandRect whole{0, coarse.height, 0, coarse.width};
        BandRect lowest{0, levelSize(p.height, levels), 0, levelSize(p.width, levels)};
        copyTiles(coarse, whole, &plane, lowest, tile >> levels, chosen, down, across, pictureAcross);
    });
    sample->share = static_cast<double>(p.height) * p.width / static_cast<double>(area);
    return true;
}
