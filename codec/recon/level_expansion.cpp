#include "codec/recon/level_expansion.h"

#include "codec/core/geometry.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Coarse value j of a row: a[j] alone, or the vertical sum a[j] + b[j].
template <bool Pair>
inline int32_t coarseAt(const int32_t* a, const int32_t* b, int32_t j)
{
    if constexpr (Pair)
        return static_cast<int32_t>(static_cast<uint32_t>(a[j]) + static_cast<uint32_t>(b[j]));
    else
        return a[j];
}

// Fine samples 2j and 2j + 1 from coarse values j and j + 1 for j = first - 1
// down to 0, right to left; `right` is coarse value `first`. Even rows round
// (x + 1) >> 1 and (x + y + 2) >> 2; odd rows take the vertical sums and
// round (s + 2) >> 2 and (s + t + 4) >> 3.
template <bool Pair>
inline void interpolateScalar(int32_t* out, const int32_t* a, const int32_t* b, int32_t first, int32_t right)
{
    constexpr int edgeShift = Pair ? 2 : 1;
    constexpr int32_t edgeRound = 1 << (edgeShift - 1);
    constexpr int midShift = edgeShift + 1;
    constexpr int32_t midRound = 1 << (midShift - 1);
    for (int32_t j = first - 1; j >= 0; j--) {
        const int32_t cur = coarseAt<Pair>(a, b, j);
        out[2 * j + 1] = (cur + right + midRound) >> midShift;
        out[2 * j] = (cur + edgeRound) >> edgeShift;
        right = cur;
    }
}

#if defined(__SSE2__)
template <bool Pair>
inline __m128i coarse4(const int32_t* a, const int32_t* b, int32_t j)
{
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + j));
    if constexpr (Pair)
        return _mm_add_epi32(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + j)));
    else
        return x;
}
#endif

// interpolateScalar, four coarse values at a time where SSE2 is there. Each
// step loads coarse values j .. j + 4 before writing fine samples 2j ..
// 2j + 7, so `out` may alias `a` or `b`.
template <bool Pair>
inline void interpolate(int32_t* out, const int32_t* a, const int32_t* b, int32_t first, int32_t right)
{
#if defined(__SSE2__)
    constexpr int edgeShift = Pair ? 2 : 1;
    const __m128i edgeRound = _mm_set1_epi32(1 << (edgeShift - 1));
    const __m128i midRound = _mm_set1_epi32(1 << edgeShift);
    for (; first >= 4; first -= 4) {
        const int32_t j = first - 4;
        const __m128i cur = coarse4<Pair>(a, b, j);
        const __m128i next = coarse4<Pair>(a, b, j + 1);
        const __m128i even = _mm_srai_epi32(_mm_add_epi32(cur, edgeRound), edgeShift);
        const __m128i odd = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(cur, next), midRound), edgeShift + 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * j), _mm_unpacklo_epi32(even, odd));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * j + 4), _mm_unpackhi_epi32(even, odd));
    }
    if (first > 0)
        right = coarseAt<Pair>(a, b, first);
#endif
    interpolateScalar<Pair>(out, a, b, first, right);
}

// One fine row of n samples from m coarse values, produced right to left so
// that `out` may alias the coarse rows: every coarse value is read before the
// sample at its own index is written.
template <bool Pair>
inline void expandRow(int32_t* out, const int32_t* a, const int32_t* b, int32_t n, int32_t m)
{
    constexpr int edgeShift = Pair ? 2 : 1;
    constexpr int32_t edgeRound = 1 << (edgeShift - 1);

    int32_t j = m - 1;
    int32_t right = coarseAt<Pair>(a, b, j);
    if ((n & 1) == 0 && m >= 2) {
        // The last coarse value is the isolated final sample at n - 1; the
        // one before it lands on n - 2 with nothing interpolated between.
        const int32_t before = coarseAt<Pair>(a, b, m - 2);
        out[n - 1] = (right + edgeRound) >> edgeShift;
        out[n - 2] = (before + edgeRound) >> edgeShift;
        right = before;
        j = m - 2;
    } else {
        out[n - 1] = (right + edgeRound) >> edgeShift;
    }
    interpolate<Pair>(out, a, b, j, right);
}

} // namespace

void expandLevel(Plane plane, int32_t height, int32_t width, int32_t L)
{
    const int32_t R = levelSize(height, L);
    const int32_t C = levelSize(width, L);
    if (R <= 0 || C <= 0)
        return;
    const int32_t Rh = lowSize(R);
    const int32_t Ch = lowSize(C);

    // Fine row y reads coarse rows <= y only, so going bottom-up never reads
    // a row that has already been rewritten.
    int32_t k = Rh - 1;
    if ((R & 1) == 0 && Rh >= 2) {
        expandRow<false>(plane[R - 1], plane[Rh - 1], nullptr, C, Ch);
        k = Rh - 2;
    }
    expandRow<false>(plane[2 * k], plane[k], nullptr, C, Ch);
    for (k--; k >= 0; k--) {
        expandRow<true>(plane[2 * k + 1], plane[k], plane[k + 1], C, Ch);
        expandRow<false>(plane[2 * k], plane[k], nullptr, C, Ch);
    }
}
