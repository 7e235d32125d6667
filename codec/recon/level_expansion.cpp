#include "codec/recon/level_expansion.h"

#include "codec/core/geometry.h"

// One fine row of n samples from m coarse values, produced right to left so
// that `out` may alias the coarse rows: every coarse value is read before the
// sample at its own index is written. Even rows take the coarse row a alone,
// rounding (x + 1) >> 1 and (x + y + 2) >> 2; odd rows take the vertical sums
// a + b, rounding (s + 2) >> 2 and (s + t + 4) >> 3.
template <bool Pair>
static inline void expandRow(int32_t* out, const int32_t* a, const int32_t* b, int32_t n, int32_t m)
{
    constexpr int edgeShift = Pair ? 2 : 1;
    constexpr int32_t edgeRound = 1 << (edgeShift - 1);
    constexpr int midShift = edgeShift + 1;
    constexpr int32_t midRound = 1 << (midShift - 1);
    auto coarse = [a, b](int32_t j) -> int32_t { return Pair ? a[j] + b[j] : a[j]; };

    int32_t j = m - 1;
    int32_t right = coarse(j);
    if ((n & 1) == 0 && m >= 2) {
        // The last coarse value is the isolated final sample at n - 1; the
        // one before it lands on n - 2 with nothing interpolated between.
        const int32_t before = coarse(m - 2);
        out[n - 1] = (right + edgeRound) >> edgeShift;
        out[n - 2] = (before + edgeRound) >> edgeShift;
        right = before;
        j = m - 2;
    } else {
        out[n - 1] = (right + edgeRound) >> edgeShift;
    }
    for (j--; j >= 0; j--) {
        const int32_t cur = coarse(j);
        out[2 * j + 1] = (cur + right + midRound) >> midShift;
        out[2 * j] = (cur + edgeRound) >> edgeShift;
        right = cur;
    }
}

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
