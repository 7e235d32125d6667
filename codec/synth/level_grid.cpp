#include "codec/synth/level_grid.h"

#include <cstddef>
#include <cstring>

#include "codec/core/geometry.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// In one dimension of n samples with nl low and nh = n - nl high
// coefficients, the tap sets of the kernels come to this (m = n for odd n,
// n - 1 for even n; missing coefficients count as 0):
//   sample 2k   (2k < m):   2 L[k] - 2 H[k] - 2 H[k-1]
//   sample 2k+1 (2k+1 < m): L[k] + L[k+1] + 6 H[k] - H[k-1] - H[k+1]
//   sample n-1 of an even n: 2 L[nl-1], the isolated final sample alone.
// This holds from 5 samples on (below that a lone high coefficient keeps a
// tap the general rule drops). Bands 0 and 1 weigh twice as much as band 2.
//
// Workspace after the grid's levelHeight x levelWidth cells: the low and the
// high part of one row after the vertical pass (the high part with a zero
// cell at either end), a row of zeros, and a flag per grid row.

namespace {

int64_t spareCells(int32_t levelHeight, int32_t levelWidth)
{
    return 2 * static_cast<int64_t>(levelWidth) + levelHeight + 2;
}

// The detail cells of grid row i: band 0 right of the low columns in the low
// rows, bands 1 and 2 across the whole row below them.
inline int32_t detailStart(int32_t i, int32_t lowHeight, int32_t lowWidth)
{
    return i < lowHeight ? lowWidth : 0;
}

#if defined(__SSE2__)
inline __m128i load4(const int32_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void store4(int32_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// K x, wrapping as the scalar product does, from shifts and adds (K is a
// small constant: 0, +-1, +-2, +-4, 6, 12).
template <int K>
inline __m128i times(__m128i x)
{
    constexpr int M = K < 0 ? -K : K;
    __m128i sum = _mm_setzero_si128();
    if constexpr ((M & 1) != 0)
        sum = x;
    if constexpr ((M & 2) != 0)
        sum = _mm_add_epi32(sum, _mm_slli_epi32(x, 1));
    if constexpr ((M & 4) != 0)
        sum = _mm_add_epi32(sum, _mm_slli_epi32(x, 2));
    if constexpr ((M & 8) != 0)
        sum = _mm_add_epi32(sum, _mm_slli_epi32(x, 3));
    static_assert(M < 16);
    if constexpr (K < 0)
        return _mm_sub_epi32(_mm_setzero_si128(), sum);
    else
        return sum;
}
#endif

bool rowHasValues(const int32_t* cells, int32_t n)
{
    uint32_t any = 0;
    int32_t j = 0;
#if defined(__SSE2__)
    __m128i bits = _mm_setzero_si128();
    for (; j + 4 <= n; j += 4)
        bits = _mm_or_si128(bits, load4(cells + j));
    any = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi32(bits, _mm_setzero_si128())) != 0xffff);
#endif
    for (; j < n; j++)
        any |= static_cast<uint32_t>(cells[j]);
    return any != 0;
}

// One row of the vertical pass: v[j] = A p0[j] + B (q0[j] + q1[j]) for the
// even rows, and A (p0[j] + p1[j]) + B q0[j] + D (q1[j] + q2[j]) for the odd
// ones (p: low rows, q: high rows). The SSE2 loops give the scalar sums.
template <int A, int B>
void evenCells(int32_t* __restrict v, const int32_t* __restrict p0, const int32_t* __restrict q0,
               const int32_t* __restrict q1, int32_t n)
{
    int32_t j = 0;
#if defined(__SSE2__)
    for (; j + 4 <= n; j += 4) {
        __m128i sum = _mm_setzero_si128();
        if constexpr (A != 0)
            sum = times<A>(load4(p0 + j));
        if constexpr (B != 0)
            sum = _mm_add_epi32(sum, times<B>(_mm_add_epi32(load4(q0 + j), load4(q1 + j))));
        store4(v + j, sum);
    }
#endif
    for (; j < n; j++)
        v[j] = A * p0[j] + B * (q0[j] + q1[j]);
}

template <int A, int B, int D>
void oddCells(int32_t* __restrict v, const int32_t* __restrict p0, const int32_t* __restrict p1,
              const int32_t* __restrict q0, const int32_t* __restrict q1, const int32_t* __restrict q2, int32_t n)
{
    int32_t j = 0;
#if defined(__SSE2__)
    for (; j + 4 <= n; j += 4) {
        __m128i sum = _mm_add_epi32(times<B>(load4(q0 + j)), times<D>(_mm_add_epi32(load4(q1 + j), load4(q2 + j))));
        if constexpr (A != 0)
            sum = _mm_add_epi32(sum, times<A>(_mm_add_epi32(load4(p0 + j), load4(p1 + j))));
        store4(v + j, sum);
    }
#endif
    for (; j < n; j++)
        v[j] = A * (p0[j] + p1[j]) + B * q0[j] + D * (q1[j] + q2[j]);
}

// Adds the horizontal synthesis of one row (low part lo[0..lowWidth), high
// part hi[1..levelWidth - lowWidth], hi[0] and the cell after it zero) into
// the plane row.
void addRowSynthesis(int32_t* __restrict out, const int32_t* __restrict lo, const int32_t* __restrict hi,
                     int32_t levelWidth, int32_t lowWidth)
{
    // A wide index, so that 2k is known not to wrap (the build wraps int32_t).
    const ptrdiff_t nh = levelWidth - lowWidth;
    ptrdiff_t k = 0;
#if defined(__SSE2__)
    // Four pairs of samples at a time: lo[k + 4] and hi[k + 5] lie inside the
    // parts while k + 4 <= nh (nh < lowWidth).
    for (; k + 4 <= nh; k += 4) {
        const __m128i l0 = load4(lo + k), l1 = load4(lo + k + 1);
        const __m128i h0 = load4(hi + k), h1 = load4(hi + k + 1), h2 = load4(hi + k + 2);
        const __m128i even = times<2>(_mm_sub_epi32(l0, _mm_add_epi32(h1, h0)));
        const __m128i odd = _mm_sub_epi32(_mm_add_epi32(_mm_add_epi32(l0, l1), times<6>(h1)), _mm_add_epi32(h0, h2));
        int32_t* at = out + 2 * k;
        store4(at, _mm_add_epi32(load4(at), _mm_unpacklo_epi32(even, odd)));
        store4(at + 4, _mm_add_epi32(load4(at + 4), _mm_unpackhi_epi32(even, odd)));
    }
#endif
    for (; k < nh; k++) {
        out[2 * k] += 2 * (lo[k] - hi[k + 1] - hi[k]);
        out[2 * k + 1] += lo[k] + lo[k + 1] + 6 * hi[k + 1] - hi[k] - hi[k + 2];
    }
    out[2 * nh] += 2 * (lo[nh] - hi[nh]);
    if ((levelWidth & 1) == 0)
        out[levelWidth - 1] += 2 * lo[lowWidth - 1];
}

} // namespace

int64_t levelGridCells(int32_t levelHeight, int32_t levelWidth)
{
    return static_cast<int64_t>(levelHeight) * levelWidth + spareCells(levelHeight, levelWidth);
}

int32_t* levelGridIn(Plane plane, int32_t planeRows, int32_t planeCols, int32_t levelHeight, int32_t levelWidth)
{
    if (levelHeight < kLevelGridLeast || levelWidth < kLevelGridLeast || levelHeight >= planeRows
        || levelWidth > planeCols)
        return nullptr;
    // From row levelHeight up to row 2 levelHeight - 2, where the next finer
    // level's rows end at the earliest, or to the end of the plane's block
    // (rows lie planeCols + 1 samples apart; the block ends one guard sample
    // before where row planeRows would start). So no two levels' grids
    // overlap, and only the expansion into the next finer level writes over
    // a grid's rows.
    const int64_t finerEnd = 2 * static_cast<int64_t>(levelHeight) - 2;
    const int64_t lastRow = finerEnd < planeRows ? finerEnd : planeRows;
    const int64_t room = (lastRow - levelHeight) * (planeCols + 1) - 1;
    if (levelGridCells(levelHeight, levelWidth) > room)
        return nullptr;
    return plane[levelHeight - 1] + planeCols + 1;
}

bool levelGridsIn(const GridPlanes& p, int32_t L, int32_t* grids[3])
{
    if (L < 1)
        return false;
    // The planes' size as the decode made them.
    const int32_t planeRows = p.halfSize ? p.height / 2 + 1 : p.height;
    const int32_t planeCols = p.halfSize ? p.width / 2 + 1 : p.width;
    int32_t* found[3] = {nullptr, nullptr, nullptr};
    for (int32_t c = 0; c < p.components; c++) {
        found[c] = levelGridIn(p.planes[c], planeRows, planeCols, levelSize(p.height, L), levelSize(p.width, L));
        if (!found[c])
            return false;
    }
    for (int32_t c = 0; c < 3; c++)
        grids[c] = found[c];
    return true;
}

void clearLevelGrid(int32_t* grid, int32_t levelHeight, int32_t levelWidth, int32_t lowHeight, int32_t lowWidth)
{
    for (int32_t i = 0; i < levelHeight; i++) {
        const int32_t start = detailStart(i, lowHeight, lowWidth);
        std::memset(grid + static_cast<int64_t>(i) * levelWidth + start, 0,
                    static_cast<size_t>(levelWidth - start) * sizeof(int32_t));
    }
}

void addLevelGrid(Plane plane, int32_t* grid, int32_t levelHeight, int32_t levelWidth, int32_t lowHeight,
                  int32_t lowWidth, bool again)
{
    const int32_t R = levelHeight, C = levelWidth, Rl = lowHeight, Cl = lowWidth;
    const int32_t nh = R - Rl;
    int32_t* lo = grid + static_cast<int64_t>(R) * C;
    int32_t* hi = lo + Cl;
    int32_t* zeros = hi + (C - Cl) + 2;
    int32_t* used = zeros + C;

    bool any = false;
    for (int32_t i = 0; i < R; i++) {
        const int32_t start = detailStart(i, Rl, Cl);
        used[i] = rowHasValues(grid + static_cast<int64_t>(i) * C + start, C - start);
        any = any || used[i];
    }
    if (!any)
        return;
    std::memset(zeros, 0, static_cast<size_t>(C) * sizeof(int32_t));
    hi[0] = 0;
    hi[C - Cl + 1] = 0;

    // Rows of the grid, a row of zeros where a row is missing or empty.
    auto rowOf = [&](int32_t i, bool present) -> const int32_t* {
        return present && used[i] ? grid + static_cast<int64_t>(i) * C : zeros;
    };
    auto lowRow = [&](int32_t k) { return rowOf(k, k >= 0 && k < Rl); };
    auto highRow = [&](int32_t k) { return rowOf(Rl + k, k >= 0 && k < nh); };

    const int32_t oddPart = (R & 1) ? R : R - 1;
    for (int32_t y = 0; y < R; y++) {
        const int32_t k = y >> 1;
        // The rows this output row depends on; p: the low rows, q: the high.
        const int32_t* p0;
        const int32_t* p1 = zeros;
        const int32_t* q0;
        const int32_t* q1;
        const int32_t* q2 = zeros;
        if (y >= oddPart) {
            p0 = lowRow(Rl - 1);
            q0 = q1 = zeros;
        } else if ((y & 1) == 0) {
            p0 = lowRow(k);
            q0 = highRow(k);
            q1 = highRow(k - 1);
        } else {
            p0 = lowRow(k);
            p1 = lowRow(k + 1);
            q0 = highRow(k);
            q1 = highRow(k - 1);
            q2 = highRow(k + 1);
        }
        if (p0 == zeros && p1 == zeros && q0 == zeros && q1 == zeros && q2 == zeros)
            continue;

        // Vertical pass into lo and hi: columns left of lowWidth hold band 1
        // only (twice its weight), the others bands 0 (twice) and 2.
        const int32_t nhc = C - Cl;
        if (y >= oddPart) {
            std::memset(lo, 0, static_cast<size_t>(Cl) * sizeof(int32_t));
            evenCells<4, 0>(hi + 1, p0 + Cl, zeros, zeros, nhc);
        } else if ((y & 1) == 0) {
            evenCells<0, -4>(lo, zeros, q0, q1, Cl);
            evenCells<4, -2>(hi + 1, p0 + Cl, q0 + Cl, q1 + Cl, nhc);
        } else {
            oddCells<0, 12, -2>(lo, zeros, zeros, q0, q1, q2, Cl);
            oddCells<2, 6, -1>(hi + 1, p0 + Cl, p1 + Cl, q0 + Cl, q1 + Cl, q2 + Cl, nhc);
        }
        addRowSynthesis(plane[y], lo, hi, C, Cl);
    }

    for (int32_t i = 0; again && i < R; i++) {
        if (!used[i])
            continue;
        const int32_t start = detailStart(i, Rl, Cl);
        std::memset(grid + static_cast<int64_t>(i) * C + start, 0, static_cast<size_t>(C - start) * sizeof(int32_t));
    }
}

namespace {

// Calls each(plane, grid, levelHeight, levelWidth, lowHeight, lowWidth) for
// every plane's grid of level L, where L has grids.
template <typename Each>
void forEachLevelGrid(const GridPlanes& p, int32_t L, Each each)
{
    int32_t* grids[3];
    if (!levelGridsIn(p, L, grids))
        return;
    const int32_t h = levelSize(p.height, L), w = levelSize(p.width, L);
    for (int32_t c = 0; c < p.components; c++)
        each(p.planes[c], grids[c], h, w, lowSize(h), lowSize(w));
}

} // namespace

void clearLevelGridsIn(const GridPlanes& p, int32_t L)
{
    forEachLevelGrid(p, L, [](Plane, int32_t* grid, int32_t h, int32_t w, int32_t lowH, int32_t lowW) {
        clearLevelGrid(grid, h, w, lowH, lowW);
    });
}

void flushLevelGridsIn(const GridPlanes& p, int32_t L, bool again)
{
    forEachLevelGrid(p, L, [again](Plane plane, int32_t* grid, int32_t h, int32_t w, int32_t lowH, int32_t lowW) {
        addLevelGrid(plane, grid, h, w, lowH, lowW, again);
    });
}
