#include "codec/synth/synthesis_kernels.h"

#include "codec/core/force_inline.h"

#include <cstddef>
#include <iterator>
#include <type_traits>
#include <utility>

// The pattern helpers must fold into one straight-line body per case
// (ZR_INLINE).

// One-dimensional tap sets: (offset from the coefficient's sample position,
// weight). Low coefficient i sits on sample 2i, except the isolated final
// sample of an even length, which sits on n - 1; high coefficient j sits on
// sample 2j + 1. Taps are dropped at the edges, never folded back.
namespace {

struct Tap {
    int offset;
    int weight;
};

struct LowFirst {
    static constexpr Tap taps[] = {{0, 2}, {1, 1}};
};
struct LowLast {
    static constexpr Tap taps[] = {{-1, 1}, {0, 2}};
};
struct LowFinal {
    static constexpr Tap taps[] = {{0, 2}};
};
struct LowMid {
    static constexpr Tap taps[] = {{-1, 1}, {0, 2}, {1, 1}};
};
struct HighFirst {
    static constexpr Tap taps[] = {{-1, -2}, {0, 6}, {1, -2}, {2, -1}};
};
struct HighLast {
    static constexpr Tap taps[] = {{-2, -1}, {-1, -2}, {0, 6}, {1, -2}};
};
struct HighMid {
    static constexpr Tap taps[] = {{-2, -1}, {-1, -2}, {0, 6}, {1, -2}, {2, -1}};
};

enum TapCase { FIRST, LAST, FINAL, MID };

// Low coefficient i of n samples (nl of them low): its case and sample.
inline TapCase lowCase(int32_t i, int32_t n, int32_t nl, int32_t* position)
{
    *position = i << 1;
    if (i == 0)
        return FIRST;
    if (i == (n - 1) >> 1)
        return LAST;
    if ((n & 1) == 0 && i == nl - 1) {
        *position = n - 1;
        return FINAL;
    }
    return MID;
}

// High coefficient j of nh: its case and sample.
inline TapCase highCase(int32_t j, int32_t nh, int32_t* position)
{
    *position = (j << 1) + 1;
    if (j == 0)
        return FIRST;
    if (j == nh - 1)
        return LAST;
    return MID;
}

template <class F>
ZR_INLINE void withLowSet(TapCase c, F&& f)
{
    switch (c) {
    case FIRST: f(LowFirst{}); break;
    case LAST: f(LowLast{}); break;
    case FINAL: f(LowFinal{}); break;
    default: f(LowMid{}); break;
    }
}

template <class F>
ZR_INLINE void withHighSet(TapCase c, F&& f)
{
    switch (c) {
    case FIRST: f(HighFirst{}); break;
    case LAST: f(HighLast{}); break;
    default: f(HighMid{}); break;
    }
}

// Calls f(offset, weight) for every tap of Set as compile-time constants.
template <class Set, class F>
ZR_INLINE void forEachTap(F&& f)
{
    [&]<size_t... I>(std::index_sequence<I...>) ZR_INLINE_LAMBDA {
        (f(std::integral_constant<int, Set::taps[I].offset>{},
           std::integral_constant<int, Set::taps[I].weight>{}),
         ...);
    }(std::make_index_sequence<std::size(Set::taps)>{});
}

// Straight-line stores of one two-dimensional pattern: every pair of a
// vertical and a horizontal tap, weighted by the product of their weights.
// Positions are pointer-wide, so that every tap folds into one addressed add
// (the build wraps int32_t, which would make each offset a sign extension).
template <class V, class H, class Target>
ZR_INLINE void addPattern(Target& target, ptrdiff_t y, ptrdiff_t x)
{
    forEachTap<V>([&](auto dy, auto wy) ZR_INLINE_LAMBDA {
        auto* row = target.row(y + decltype(dy)::value);
        forEachTap<H>([&](auto dx, auto wx) ZR_INLINE_LAMBDA {
            target.template add<decltype(wy)::value * decltype(wx)::value>(row, x + decltype(dx)::value);
        });
    });
}

// Weights by tap product. Plane kernels: exact, v x P x 2 for bands 0 and 1
// (products 12, 6, -4, -2, -1) and v x P for band 2 (36, -12, -6, 4, 2, 1),
// built from shifts. 8-bit kernels: the rounded sets.
struct PlaneWeights01 {
    int32_t w1, w2, w4, w6, w12;
    explicit PlaneWeights01(int32_t v)
    {
        w1 = v << 1;
        w2 = v << 2;
        w4 = v << 3;
        w6 = w4 + w2;
        w12 = w6 << 1;
    }
    void centreException(bool) {}
    template <int P>
    int32_t get() const
    {
        if constexpr (P == 12) return w12;
        else if constexpr (P == 6) return w6;
        else if constexpr (P == -4) return -w4;
        else if constexpr (P == -2) return -w2;
        else { static_assert(P == -1); return -w1; }
    }
};

struct PlaneWeights2 {
    int32_t w1, w2, w4, w6, w12, w36;
    explicit PlaneWeights2(int32_t v)
    {
        w1 = v;
        w2 = v << 1;
        w4 = v << 2;
        w6 = w4 + w2;
        w12 = w6 << 1;
        w36 = w12 + (w12 << 1);
    }
    void centreException(bool) {}
    template <int P>
    int32_t get() const
    {
        if constexpr (P == 36) return w36;
        else if constexpr (P == -12) return -w12;
        else if constexpr (P == -6) return -w6;
        else if constexpr (P == 4) return w4;
        else if constexpr (P == 2) return w2;
        else { static_assert(P == 1); return w1; }
    }
};

struct PixelWeights01 {
    int32_t h, l, m, o, t, centre;
    explicit PixelWeights01(int32_t v)
    {
        h = (v + 2) >> 2;
        l = h >> 1;
        m = h + l;
        o = m << 1;
        t = l >> 1;
        centre = o;
    }
    // The first and last band 0 coefficients of the rule-2 low row use 3h
    // for their centre tap.
    void centreException(bool on) { centre = on ? h + (h << 1) : o; }
    template <int P>
    int32_t get() const
    {
        if constexpr (P == 12) return centre;
        else if constexpr (P == 6) return m;
        else if constexpr (P == -4) return -h;
        else if constexpr (P == -2) return -l;
        else { static_assert(P == -1); return -t; }
    }
};

struct PixelWeights2 {
    int32_t s, p, q, r, u;
    explicit PixelWeights2(int32_t v)
    {
        s = (v + 4) >> 3;
        p = s >> 1;
        q = s + p;
        r = q << 1;
        u = p >> 1;
    }
    void centreException(bool) {}
    template <int P>
    int32_t get() const
    {
        if constexpr (P == 36) return r + (r << 1);
        else if constexpr (P == -12) return -r;
        else if constexpr (P == -6) return -q;
        else if constexpr (P == 4) return s;
        else if constexpr (P == 2) return p;
        else { static_assert(P == 1); return u; }
    }
};

// Run-time form of get<P> for the clipped path of tiny levels.
template <class W>
int32_t weightOf(const W& w, int P)
{
    if constexpr (std::is_same_v<W, PlaneWeights01> || std::is_same_v<W, PixelWeights01>) {
        switch (P) {
        case 12: return w.template get<12>();
        case 6: return w.template get<6>();
        case -4: return w.template get<-4>();
        case -2: return w.template get<-2>();
        default: return w.template get<-1>();
        }
    } else {
        switch (P) {
        case 36: return w.template get<36>();
        case -12: return w.template get<-12>();
        case -6: return w.template get<-6>();
        case 4: return w.template get<4>();
        case 2: return w.template get<2>();
        default: return w.template get<1>();
        }
    }
}

template <class W>
struct PlaneTarget {
    Plane rows;
    W weights;
    PlaneTarget(Plane r, int32_t v) : rows(r), weights(v) {}
    void centreException(bool) {}
    int32_t* row(ptrdiff_t y) const { return rows[y]; }
    template <int P>
    void add(int32_t* r, ptrdiff_t x) const { r[x] += weights.template get<P>(); }
    void addProduct(int32_t* r, int32_t x, int P) const { r[x] += weightOf(weights, P); }
};

// The three transformed planes of a colour value at once, each with its own
// part of the value: the tap sets are selected once, then each plane gets
// its PlaneTarget pattern (see the addPattern overload below).
template <class W>
struct PlaneTripleTarget {
    const Plane* planes;
    const int32_t* parts;
    PlaneTripleTarget(const Plane* p, const int32_t* v) : planes(p), parts(v) {}
    void centreException(bool) {}
};

template <class W, int Stride>
struct PixelTarget {
    PixelRows rows;
    W weights;
    PixelTarget(PixelRows r, int32_t v) : rows(r), weights(v) {}
    void centreException(bool on) { weights.centreException(on); }
    uint8_t* row(ptrdiff_t y) const { return rows[y]; }
    void addValue(uint8_t* r, ptrdiff_t x, int32_t w) const
    {
        uint8_t* p = r + x * Stride;
        const int32_t sum = *p + w;
        *p = static_cast<uint8_t>(sum > 255 ? 255 : sum < 0 ? 0 : sum);
    }
    template <int P>
    void add(uint8_t* r, ptrdiff_t x) const { addValue(r, x, weights.template get<P>()); }
    void addProduct(uint8_t* r, int32_t x, int P) const { addValue(r, x, weightOf(weights, P)); }
};

// Clipped pattern for levels shorter than 4 samples in a dimension, where the
// first high coefficient's outer tap (and a lone low coefficient's right tap)
// can fall outside the picture.
struct RuntimeTaps {
    int32_t position[5];
    int weight[5];
    int count;
};

template <class Set>
void collectTaps(RuntimeTaps* out, int32_t centre, int32_t n)
{
    out->count = 0;
    for (const Tap& tap : Set::taps) {
        const int32_t p = centre + tap.offset;
        if (p >= 0 && p < n) {
            out->position[out->count] = p;
            out->weight[out->count] = tap.weight;
            out->count++;
        }
    }
}

template <class Target>
void addClipped(Target& target, const RuntimeTaps& vertical, const RuntimeTaps& horizontal)
{
    for (int a = 0; a < vertical.count; a++) {
        const auto row = target.row(vertical.position[a]);
        for (int b = 0; b < horizontal.count; b++)
            target.addProduct(row, horizontal.position[b], vertical.weight[a] * horizontal.weight[b]);
    }
}

template <class V, class H, class W>
ZR_INLINE void addPattern(PlaneTripleTarget<W>& target, ptrdiff_t y, ptrdiff_t x)
{
    for (int32_t p = 0; p < 3; p++) {
        PlaneTarget<W> one(target.planes[p], target.parts[p]);
        addPattern<V, H>(one, y, x);
    }
}

template <class W>
void addClipped(PlaneTripleTarget<W>& target, const RuntimeTaps& vertical, const RuntimeTaps& horizontal)
{
    for (int32_t p = 0; p < 3; p++) {
        PlaneTarget<W> one(target.planes[p], target.parts[p]);
        addClipped(one, vertical, horizontal);
    }
}

template <class V, class H, class Target>
ZR_INLINE void place(Target& target, int32_t y, int32_t x, int32_t levelHeight, int32_t levelWidth)
{
    if (levelHeight >= 4 && levelWidth >= 4) {
        addPattern<V, H>(target, y, x);
        return;
    }
    RuntimeTaps vertical, horizontal;
    collectTaps<V>(&vertical, y, levelHeight);
    collectTaps<H>(&horizontal, x, levelWidth);
    addClipped(target, vertical, horizontal);
}

// The common case first: a coefficient with middle tap sets in both
// directions in a level of at least 4 x 4 samples, whose pattern needs no
// clipping. False (nothing added) for every other coefficient.
template <class Target01, class Target2, class Rows, class Value>
ZR_INLINE bool addInteriorPattern(Rows rows, Value v, int32_t levelHeight, int32_t levelWidth,
                                  int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col)
{
    if (levelHeight < 4 || levelWidth < 4)
        return false;
    int32_t y, x;
    if (band == 0) {
        if (lowCase(row, levelHeight, lowHeight, &y) != MID
            || highCase(col - lowWidth, levelWidth - lowWidth, &x) != MID)
            return false;
        Target01 target(rows, v);
        addPattern<LowMid, HighMid>(target, y, x);
    } else if (band == 1) {
        if (highCase(row - lowHeight, levelHeight - lowHeight, &y) != MID
            || lowCase(col, levelWidth, lowWidth, &x) != MID)
            return false;
        Target01 target(rows, v);
        addPattern<HighMid, LowMid>(target, y, x);
    } else {
        if (highCase(row - lowHeight, levelHeight - lowHeight, &y) != MID
            || highCase(col - lowWidth, levelWidth - lowWidth, &x) != MID)
            return false;
        Target2 target(rows, v);
        addPattern<HighMid, HighMid>(target, y, x);
    }
    return true;
}

// Selects the tap sets of the coefficient and adds its pattern; Target01
// serves bands 0 and 1, Target2 band 2. Out of line, so that the interior
// case does not pay for the registers of all the others.
template <class Target01, class Target2, class Rows, class Value>
ZR_NOINLINE void synthesizeAny(Rows rows, Value v, int32_t levelHeight, int32_t levelWidth,
                               int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col)
{
    int32_t y, x;
    if (band == 0) {
        Target01 target(rows, v);
        const int32_t j = col - lowWidth;
        const int32_t nh = levelWidth - lowWidth;
        const TapCase vc = lowCase(row, levelHeight, lowHeight, &y);
        const TapCase hc = highCase(j, nh, &x);
        target.centreException(vc == LAST && (j == 0 || j == nh - 1));
        withLowSet(vc, [&](auto vs) {
            withHighSet(hc, [&](auto hs) {
                place<decltype(vs), decltype(hs)>(target, y, x, levelHeight, levelWidth);
            });
        });
    } else if (band == 1) {
        Target01 target(rows, v);
        const TapCase vc = highCase(row - lowHeight, levelHeight - lowHeight, &y);
        const TapCase hc = lowCase(col, levelWidth, lowWidth, &x);
        withHighSet(vc, [&](auto vs) {
            withLowSet(hc, [&](auto hs) {
                place<decltype(vs), decltype(hs)>(target, y, x, levelHeight, levelWidth);
            });
        });
    } else {
        Target2 target(rows, v);
        const TapCase vc = highCase(row - lowHeight, levelHeight - lowHeight, &y);
        const TapCase hc = highCase(col - lowWidth, levelWidth - lowWidth, &x);
        withHighSet(vc, [&](auto vs) {
            withHighSet(hc, [&](auto hs) {
                place<decltype(vs), decltype(hs)>(target, y, x, levelHeight, levelWidth);
            });
        });
    }
}

template <class Target01, class Target2, class Rows, class Value>
ZR_INLINE void synthesize(Rows rows, Value v, int32_t levelHeight, int32_t levelWidth,
                       int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col)
{
    if (!addInteriorPattern<Target01, Target2>(rows, v, levelHeight, levelWidth, lowHeight, lowWidth, band, row,
                                               col))
        synthesizeAny<Target01, Target2>(rows, v, levelHeight, levelWidth, lowHeight, lowWidth, band, row, col);
}

} // namespace

void addCoefficientPlane(Plane plane, int32_t v, int32_t levelHeight, int32_t levelWidth,
                         int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col)
{
    synthesize<PlaneTarget<PlaneWeights01>, PlaneTarget<PlaneWeights2>>(
        plane, v, levelHeight, levelWidth, lowHeight, lowWidth, band, row, col);
}

namespace {

// The coefficients i of a dimension of n samples (nl low) whose tap sets are
// the middle ones: [1, end) for low (lowCase), [1, nh - 1) for high.
int32_t lowMidEnd(int32_t n, int32_t nl)
{
    const int32_t last = (n - 1) >> 1;
    return (n & 1) == 0 && nl - 1 < last ? nl - 1 : last;
}

// An interior pattern of one band, its position already checked; one body
// per band: merged, their address arithmetic spills.
template <class W, class V, class H>
ZR_NOINLINE void addBandPattern(Plane plane, int32_t v, ptrdiff_t y, ptrdiff_t x)
{
    PlaneTarget<W> target(plane, v);
    addPattern<V, H>(target, y, x);
}

uint32_t countFrom1(int32_t end)
{
    return end > 1 ? static_cast<uint32_t>(end - 1) : 0u;
}

} // namespace

void preparePlaneBand(PlaneBand* out, Plane plane, int32_t levelHeight, int32_t levelWidth, int32_t lowHeight,
                      int32_t lowWidth, int32_t band)
{
    *out = PlaneBand{plane, levelHeight, levelWidth, lowHeight, lowWidth, band, 0, 0, 0, 0, 0, 0};
    if (levelHeight < 4 || levelWidth < 4)
        return;
    const bool highRows = band != 0, highCols = band != 1;
    out->rowFirst = highRows ? lowHeight + 1 : 1;
    out->rowCount = highRows ? countFrom1(levelHeight - lowHeight - 1) : countFrom1(lowMidEnd(levelHeight, lowHeight));
    out->yBase = highRows ? 2 * lowHeight - 1 : 0;
    out->colFirst = highCols ? lowWidth + 1 : 1;
    out->colCount = highCols ? countFrom1(levelWidth - lowWidth - 1) : countFrom1(lowMidEnd(levelWidth, lowWidth));
    out->xBase = highCols ? 2 * lowWidth - 1 : 0;
}

void addPlaneBandValue(const PlaneBand& target, int32_t v, int32_t row, int32_t col)
{
    if (static_cast<uint32_t>(row - target.rowFirst) < target.rowCount
        && static_cast<uint32_t>(col - target.colFirst) < target.colCount) {
        const ptrdiff_t y = 2 * static_cast<ptrdiff_t>(row) - target.yBase;
        const ptrdiff_t x = 2 * static_cast<ptrdiff_t>(col) - target.xBase;
        if (target.band == 0)
            addBandPattern<PlaneWeights01, LowMid, HighMid>(target.plane, v, y, x);
        else if (target.band == 1)
            addBandPattern<PlaneWeights01, HighMid, LowMid>(target.plane, v, y, x);
        else
            addBandPattern<PlaneWeights2, HighMid, HighMid>(target.plane, v, y, x);
        return;
    }
    synthesizeAny<PlaneTarget<PlaneWeights01>, PlaneTarget<PlaneWeights2>>(
        target.plane, v, target.levelHeight, target.levelWidth, target.lowHeight, target.lowWidth, target.band, row,
        col);
}

void addCoefficientGray8(PixelRows rows, int32_t v, int32_t levelHeight, int32_t levelWidth,
                         int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col)
{
    synthesize<PixelTarget<PixelWeights01, 1>, PixelTarget<PixelWeights2, 1>>(
        rows, v, levelHeight, levelWidth, lowHeight, lowWidth, band, row, col);
}

void addCoefficientRgb8(PixelRows channelRows, int32_t v, int32_t levelHeight, int32_t levelWidth,
                        int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col)
{
    synthesize<PixelTarget<PixelWeights01, 3>, PixelTarget<PixelWeights2, 3>>(
        channelRows, v, levelHeight, levelWidth, lowHeight, lowWidth, band, row, col);
}

void addCoefficientPlaneTriple(const Plane* planes, const int32_t parts[3], int32_t levelHeight, int32_t levelWidth,
                               int32_t lowHeight, int32_t lowWidth, int32_t band, int32_t row, int32_t col)
{
    synthesize<PlaneTripleTarget<PlaneWeights01>, PlaneTripleTarget<PlaneWeights2>>(
        planes, parts, levelHeight, levelWidth, lowHeight, lowWidth, band, row, col);
}
