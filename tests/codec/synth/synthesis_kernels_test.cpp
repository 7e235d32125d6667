#include "codec/synth/synthesis_kernels.h"


#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace {

using TapList = std::vector<std::pair<int32_t, int32_t>>; // (sample, weight)

// One-dimensional tap sets written from the rules, first match wins, with
// taps outside 0..n-1 dropped.
TapList lowTaps(int32_t i, int32_t n)
{
    const int32_t nl = (n + 2) >> 1;
    TapList t;
    if (i == 0)
        t = {{0, 2}, {1, 1}};
    else if (i == (n - 1) >> 1)
        t = {{2 * i - 1, 1}, {2 * i, 2}};
    else if (n % 2 == 0 && i == nl - 1)
        t = {{n - 1, 2}};
    else
        t = {{2 * i - 1, 1}, {2 * i, 2}, {2 * i + 1, 1}};
    TapList kept;
    for (auto& p : t)
        if (p.first >= 0 && p.first < n)
            kept.push_back(p);
    return kept;
}

TapList highTaps(int32_t j, int32_t n)
{
    const int32_t nh = n - ((n + 2) >> 1);
    const int32_t c = 2 * j + 1;
    TapList t;
    if (j == 0)
        t = {{c - 1, -2}, {c, 6}, {c + 1, -2}, {c + 2, -1}};
    else if (j == nh - 1)
        t = {{c - 2, -1}, {c - 1, -2}, {c, 6}, {c + 1, -2}};
    else
        t = {{c - 2, -1}, {c - 1, -2}, {c, 6}, {c + 1, -2}, {c + 2, -1}};
    TapList kept;
    for (auto& p : t)
        if (p.first >= 0 && p.first < n)
            kept.push_back(p);
    return kept;
}

struct Geometry {
    int32_t levelHeight, levelWidth, lowHeight, lowWidth;
};

Geometry geometryOf(int32_t h, int32_t w) { return {h, w, (h + 2) >> 1, (w + 2) >> 1}; }

// The 2-D pattern of a coefficient: the vertical and horizontal tap sets.
void tapSets(const Geometry& g, int32_t band, int32_t row, int32_t col, TapList* v, TapList* h)
{
    if (band == 0) {
        *v = lowTaps(row, g.levelHeight);
        *h = highTaps(col - g.lowWidth, g.levelWidth);
    } else if (band == 1) {
        *v = highTaps(row - g.lowHeight, g.levelHeight);
        *h = lowTaps(col, g.levelWidth);
    } else {
        *v = highTaps(row - g.lowHeight, g.levelHeight);
        *h = highTaps(col - g.lowWidth, g.levelWidth);
    }
}

// Rounded 8-bit weight of tap product P.
int32_t pixelWeight(int32_t v, int32_t band, int32_t P, bool centreException)
{
    if (band == 0 || band == 1) {
        const int32_t h = (v + 2) >> 2, l = h >> 1, m = h + l, o = 2 * m, t = l >> 1;
        switch (P) {
        case 12: return centreException ? 3 * h : o;
        case 6: return m;
        case -4: return -h;
        case -2: return -l;
        case -1: return -t;
        }
    } else {
        const int32_t s = (v + 4) >> 3, p = s >> 1, q = s + p, r = 2 * q, u = p >> 1;
        switch (P) {
        case 36: return 3 * r;
        case -12: return -r;
        case -6: return -q;
        case 4: return s;
        case 2: return p;
        case 1: return u;
        }
    }
    ADD_FAILURE() << "unexpected product " << P;
    return 0;
}

// Target storage with a margin of 3 samples on every side, so that stray
// stores outside the picture show up in the comparison.
constexpr int32_t kMargin = 3;

template <class T>
struct Canvas {
    int32_t height, width, stride; // stride: elements per pixel
    std::vector<T> data;
    std::vector<T*> rows;
    Canvas(int32_t h, int32_t w, int32_t pixelStride, int32_t channel = 0)
        : height(h), width(w), stride(pixelStride),
          data(static_cast<size_t>(h + 2 * kMargin) * (w + 2 * kMargin) * pixelStride)
    {
        // The row table covers the margin rows too, so stray rows land in
        // the compared storage.
        const size_t rowElems = static_cast<size_t>(w + 2 * kMargin) * pixelStride;
        for (int32_t y = 0; y < h + 2 * kMargin; y++)
            rows.push_back(data.data() + y * rowElems + kMargin * pixelStride + channel);
    }
    T** table() { return rows.data() + kMargin; }
    T& at(int32_t y, int32_t x) { return table()[y][x * stride]; }
};

void modelPlane(Canvas<int32_t>& c, const Geometry& g, int32_t band, int32_t v, int32_t row, int32_t col)
{
    TapList vt, ht;
    tapSets(g, band, row, col, &vt, &ht);
    const uint32_t scale = band == 0 || band == 1 ? 2 : 1;
    for (auto& [y, wy] : vt)
        for (auto& [x, wx] : ht) {
            uint32_t add = static_cast<uint32_t>(v) * static_cast<uint32_t>(wy * wx) * scale;
            c.at(y, x) = static_cast<int32_t>(static_cast<uint32_t>(c.at(y, x)) + add);
        }
}

void modelPixels(Canvas<uint8_t>& c, const Geometry& g, int32_t band, int32_t v, int32_t row, int32_t col)
{
    TapList vt, ht;
    tapSets(g, band, row, col, &vt, &ht);
    const int32_t nh = g.levelWidth - g.lowWidth;
    const int32_t j = col - g.lowWidth;
    // The rule-2 low row (rule 1 wins for row 0 of a tiny level).
    const bool exception = band == 0 && row != 0 && row == (g.levelHeight - 1) >> 1 && (j == 0 || j == nh - 1);
    for (auto& [y, wy] : vt)
        for (auto& [x, wx] : ht) {
            int64_t sum = c.at(y, x) + static_cast<int64_t>(pixelWeight(v, band, wy * wx, exception));
            c.at(y, x) = static_cast<uint8_t>(sum > 255 ? 255 : sum < 0 ? 0 : sum);
        }
}

// Every coefficient position of every band of a level.
template <class F>
void forEachCoefficient(const Geometry& g, F&& f)
{
    for (int32_t band = 0; band < 3; band++) {
        const int32_t r0 = band == 0 ? 0 : g.lowHeight, r1 = band == 0 ? g.lowHeight : g.levelHeight;
        const int32_t c0 = band == 1 ? 0 : g.lowWidth, c1 = band == 1 ? g.lowWidth : g.levelWidth;
        for (int32_t r = r0; r < r1; r++)
            for (int32_t c = c0; c < c1; c++)
                f(band, r, c);
    }
}

// Sizes 2..40 with the other dimension of opposite and of equal parity.
std::vector<std::pair<int32_t, int32_t>> levelSizes()
{
    std::vector<std::pair<int32_t, int32_t>> sizes;
    for (int32_t n = 2; n <= 40; n++) {
        sizes.push_back({n, n});
        sizes.push_back({n, 51 - n});
    }
    return sizes;
}

const int32_t kValues[] = {82, -83, 1, -1, 7, -6, 1000, -4099, INT32_MAX, INT32_MIN};

TEST(AddCoefficientPlane, MatchesModelAtEveryPositionOfEveryBand)
{
    std::mt19937 rng(1);
    for (auto [h, w] : levelSizes()) {
        const Geometry g = geometryOf(h, w);
        Canvas<int32_t> start(h, w, 1);
        for (auto& s : start.data)
            s = static_cast<int32_t>(rng() % 20001) - 10000;
        Canvas<int32_t> kernelCanvas(h, w, 1), modelCanvas(h, w, 1);
        for (int32_t v : kValues) {
            forEachCoefficient(g, [&](int32_t band, int32_t r, int32_t c) {
                kernelCanvas.data = start.data;
                modelCanvas.data = start.data;
                addCoefficientPlane(kernelCanvas.table(), v, g.levelHeight, g.levelWidth, g.lowHeight,
                                    g.lowWidth, band, r, c);
                modelPlane(modelCanvas, g, band, v, r, c);
                ASSERT_TRUE(kernelCanvas.data == modelCanvas.data)
                    << h << "x" << w << " band " << band << " at " << r << "," << c << " v " << v;
            });
        }
    }
}

TEST(AddCoefficientPlaneTriple, EqualsOnePlaneKernelPerPlaneEverywhere)
{
    std::mt19937 rng(3);
    for (auto [h, w] : levelSizes()) {
        const Geometry g = geometryOf(h, w);
        Canvas<int32_t> triple[3] = {{h, w, 1}, {h, w, 1}, {h, w, 1}};
        Canvas<int32_t> single[3] = {{h, w, 1}, {h, w, 1}, {h, w, 1}};
        for (int32_t p = 0; p < 3; p++) {
            for (auto& s : triple[p].data)
                s = static_cast<int32_t>(rng());
            single[p].data = triple[p].data;
        }
        const Plane planes[3] = {triple[0].table(), triple[1].table(), triple[2].table()};
        for (int32_t v : kValues) {
            const int32_t parts[3] = {v, static_cast<int32_t>(rng()), -v};
            forEachCoefficient(g, [&](int32_t band, int32_t r, int32_t c) {
                addCoefficientPlaneTriple(planes, parts, g.levelHeight, g.levelWidth, g.lowHeight, g.lowWidth,
                                          band, r, c);
                for (int32_t p = 0; p < 3; p++)
                    addCoefficientPlane(single[p].table(), parts[p], g.levelHeight, g.levelWidth, g.lowHeight,
                                        g.lowWidth, band, r, c);
            });
        }
        for (int32_t p = 0; p < 3; p++)
            ASSERT_TRUE(triple[p].data == single[p].data) << h << "x" << w << " plane " << p;
    }
}

// The prepared band takes the interior path only where addCoefficientPlane
// has middle tap sets in both directions; a wrong range shows at the edges.
TEST(AddPlaneBandValue, EqualsThePlaneKernelAtEveryPositionOfEveryBand)
{
    std::mt19937 rng(4);
    for (auto [h, w] : levelSizes()) {
        const Geometry g = geometryOf(h, w);
        Canvas<int32_t> banded(h, w, 1), single(h, w, 1);
        for (auto& s : banded.data)
            s = static_cast<int32_t>(rng());
        single.data = banded.data;
        PlaneBand prepared{};
        int32_t lastBand = -1;
        forEachCoefficient(g, [&](int32_t band, int32_t r, int32_t c) {
            if (band != lastBand)
                preparePlaneBand(&prepared, banded.table(), g.levelHeight, g.levelWidth, g.lowHeight, g.lowWidth,
                                 lastBand = band);
            const int32_t v = static_cast<int32_t>(rng());
            addPlaneBandValue(prepared, v, r, c);
            addCoefficientPlane(single.table(), v, g.levelHeight, g.levelWidth, g.lowHeight, g.lowWidth, band, r, c);
        });
        ASSERT_TRUE(banded.data == single.data) << h << "x" << w;
    }
}

template <int Stride>
void checkPixelKernel(void (*kernel)(PixelRows, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t))
{
    std::mt19937 rng(2);
    for (auto [h, w] : levelSizes()) {
        const Geometry g = geometryOf(h, w);
        const int32_t channel = Stride == 3 ? static_cast<int32_t>(h % 3) : 0;
        Canvas<uint8_t> kernelCanvas(h, w, Stride, channel), modelCanvas(h, w, Stride, channel);
        std::vector<uint8_t> start(kernelCanvas.data.size());
        for (auto& b : start)
            b = static_cast<uint8_t>(rng());
        for (int32_t v : kValues) {
            forEachCoefficient(g, [&](int32_t band, int32_t r, int32_t c) {
                std::memcpy(kernelCanvas.data.data(), start.data(), start.size());
                std::memcpy(modelCanvas.data.data(), start.data(), start.size());
                kernel(kernelCanvas.table(), v, g.levelHeight, g.levelWidth, g.lowHeight, g.lowWidth, band, r, c);
                modelPixels(modelCanvas, g, band, v, r, c);
                ASSERT_TRUE(kernelCanvas.data == modelCanvas.data)
                    << h << "x" << w << " band " << band << " at " << r << "," << c << " v " << v;
            });
        }
    }
}

TEST(AddCoefficientGray8, MatchesModelAtEveryPositionOfEveryBand) { checkPixelKernel<1>(addCoefficientGray8); }

TEST(AddCoefficientRgb8, MatchesModelAndLeavesOtherChannelsAlone) { checkPixelKernel<3>(addCoefficientRgb8); }

// Pattern of one coefficient added to a zero plane (or a grey 128 picture),
// read back over rows r0.. and columns c0.. .
std::vector<std::vector<int32_t>> planePattern(Geometry g, int32_t band, int32_t v, int32_t row, int32_t col,
                                                int32_t r0, int32_t c0, int32_t rows, int32_t cols)
{
    Canvas<int32_t> c(g.levelHeight, g.levelWidth, 1);
    addCoefficientPlane(c.table(), v, g.levelHeight, g.levelWidth, g.lowHeight, g.lowWidth, band, row, col);
    std::vector<std::vector<int32_t>> out(rows, std::vector<int32_t>(cols));
    for (int32_t y = 0; y < rows; y++)
        for (int32_t x = 0; x < cols; x++)
            out[y][x] = c.at(r0 + y, c0 + x);
    return out;
}

std::vector<std::vector<int32_t>> grayPattern(Geometry g, int32_t band, int32_t v, int32_t row, int32_t col,
                                               int32_t r0, int32_t c0, int32_t rows, int32_t cols)
{
    Canvas<uint8_t> c(g.levelHeight, g.levelWidth, 1);
    std::memset(c.data.data(), 128, c.data.size());
    addCoefficientGray8(c.table(), v, g.levelHeight, g.levelWidth, g.lowHeight, g.lowWidth, band, row, col);
    std::vector<std::vector<int32_t>> out(rows, std::vector<int32_t>(cols));
    for (int32_t y = 0; y < rows; y++)
        for (int32_t x = 0; x < cols; x++)
            out[y][x] = c.at(r0 + y, c0 + x) - 128;
    return out;
}

using Grid = std::vector<std::vector<int32_t>>;

TEST(SynthesisPatterns, InteriorPatterns)
{
    const Geometry g = geometryOf(20, 20); // low 11, high 9
    // Band 0 coefficient (i 4, j 3): centre (8, 7).
    EXPECT_EQ(planePattern(g, 0, 1, 4, 11 + 3, 7, 5, 3, 5),
              (Grid{{-2, -4, 12, -4, -2}, {-4, -8, 24, -8, -4}, {-2, -4, 12, -4, -2}}));
    EXPECT_EQ(grayPattern(g, 0, 82, 4, 11 + 3, 7, 5, 3, 5),
              (Grid{{-5, -10, 31, -10, -5}, {-10, -21, 62, -21, -10}, {-5, -10, 31, -10, -5}}));
    // Band 1 is band 0 transposed.
    EXPECT_EQ(grayPattern(g, 1, 82, 11 + 3, 4, 5, 7, 5, 3),
              (Grid{{-5, -10, -5}, {-10, -21, -10}, {31, 62, 31}, {-10, -21, -10}, {-5, -10, -5}}));
    // Band 2 (i 3, j 3): centre (7, 7).
    EXPECT_EQ(planePattern(g, 2, 1, 11 + 3, 11 + 3, 7, 7, 1, 1), (Grid{{36}}));
    EXPECT_EQ(grayPattern(g, 2, 82, 11 + 3, 11 + 3, 5, 5, 5, 5),
              (Grid{{2, 5, -15, 5, 2},
                    {5, 10, -30, 10, 5},
                    {-15, -30, 90, -30, -15},
                    {5, 10, -30, 10, 5},
                    {2, 5, -15, 5, 2}}));
    // Negative values round down: h -21, l -11, m -32, o -64, t -6.
    EXPECT_EQ(grayPattern(g, 0, -83, 4, 11 + 3, 7, 5, 3, 5),
              (Grid{{6, 11, -32, 11, 6}, {11, 21, -64, 21, 11}, {6, 11, -32, 11, 6}}));
}

TEST(SynthesisPatterns, EvenLengthEdges)
{
    const Geometry g = geometryOf(12, 12); // low 7, high 5
    // Row index 6 is the isolated final sample: row 11 alone, centre-row weights.
    Grid all = grayPattern(g, 0, 82, 6, 7 + 2, 0, 0, 12, 12);
    for (int32_t y = 0; y < 11; y++)
        EXPECT_EQ(all[y], std::vector<int32_t>(12, 0)) << y;
    EXPECT_EQ(all[11], (std::vector<int32_t>{0, 0, 0, -10, -21, 62, -21, -10, 0, 0, 0, 0}));
    // Row index 5 (rule 2): rows 9 and 10 only; centre tap 63 at j 0 and the last j.
    for (int32_t j = 0; j < 5; j++) {
        all = grayPattern(g, 0, 82, 5, 7 + j, 0, 0, 12, 12);
        int32_t centre = 2 * j + 1;
        for (int32_t y = 0; y < 12; y++) {
            bool touched = false;
            for (int32_t x = 0; x < 12; x++)
                touched |= all[y][x] != 0;
            EXPECT_EQ(touched, y == 9 || y == 10) << "row " << y << " j " << j;
        }
        EXPECT_EQ(all[10][centre], (j == 0 || j == 4) ? 63 : 62) << j;
        EXPECT_EQ(all[9][centre], 31);
    }
    // The last high column coefficient (centre 9) touches columns 7..10, never 11.
    all = grayPattern(g, 0, 82, 3, 7 + 4, 0, 0, 12, 12);
    EXPECT_EQ(all[6], (std::vector<int32_t>{0, 0, 0, 0, 0, 0, 0, -10, -21, 62, -21, 0}));
}

TEST(SynthesisPatterns, OddLengthEdges)
{
    const Geometry g = geometryOf(11, 11); // low 6, high 5
    Grid all = grayPattern(g, 0, 82, 5, 6 + 4, 0, 0, 11, 11);
    // Last high coefficient (j 4, centre 9): columns 7..10; last low (i 5): rows 9, 10.
    for (int32_t y = 0; y < 11; y++)
        for (int32_t x = 0; x < 11; x++)
            EXPECT_EQ(all[y][x] != 0, (y == 9 || y == 10) && x >= 7) << y << "," << x;
    EXPECT_EQ(all[10], (std::vector<int32_t>{0, 0, 0, 0, 0, 0, 0, -10, -21, 63, -21}));
}

TEST(SynthesisPatterns, TinyLengthsKeepOrDropTheOuterTap)
{
    // Width 4: one high coefficient whose c+2 tap lands on sample 3.
    Grid four = planePattern(geometryOf(9, 4), 0, 1, 2, 3, 3, 0, 1, 4);
    EXPECT_EQ(four, (Grid{{-4, 12, -4, -2}}));
    // Width 3: the same tap would be sample 3 and is not written (the canvas
    // margin is checked by the exhaustive tests).
    Grid three = planePattern(geometryOf(9, 3), 0, 1, 2, 2, 3, 0, 1, 3);
    EXPECT_EQ(three, (Grid{{-4, 12, -4}}));
}

TEST(SynthesisPatterns, SmallValuesVanishAndPixelsClamp)
{
    const Geometry g = geometryOf(20, 20);
    for (int32_t v : {1, -1})
        for (int32_t band = 0; band < 3; band++)
            EXPECT_EQ(grayPattern(g, band, v, band == 0 ? 4 : 14, band == 1 ? 4 : 14, 0, 0, 20, 20),
                      Grid(20, std::vector<int32_t>(20, 0)));

    Canvas<uint8_t> c(20, 20, 1);
    std::memset(c.data.data(), 250, c.data.size());
    c.at(8, 6) = 3; // receives -21
    addCoefficientGray8(c.table(), 82, 20, 20, 11, 11, 0, 4, 14);
    EXPECT_EQ(c.at(8, 7), 255);
    EXPECT_EQ(c.at(8, 6), 0);
    EXPECT_EQ(c.at(8, 8), 229);
}

TEST(ColourSplit, ContributionsPerComponent)
{
    int32_t out[3];
    splitColourValue(0, 3, 9, out);
    EXPECT_EQ(std::vector<int32_t>(out, out + 3), (std::vector<int32_t>{9, 9, 9}));
    splitColourValue(1, 3, -7, out);
    EXPECT_EQ(std::vector<int32_t>(out, out + 3), (std::vector<int32_t>{-14, 4, 14}));
    splitColourValue(2, 3, 10, out);
    EXPECT_EQ(std::vector<int32_t>(out, out + 3), (std::vector<int32_t>{12, -12, 35}));
    splitColourValue(2, 3, -10, out);
    EXPECT_EQ(std::vector<int32_t>(out, out + 3), (std::vector<int32_t>{-13, 13, -35}));
    splitColourValue(2, 1, 10, out);
    EXPECT_EQ(out[0], 10);
}

TEST(ColourSplit, TargetChoosesPlanesOrPixels)
{
    const Geometry g = geometryOf(20, 20);
    Canvas<int32_t> p0(20, 20, 1), p1(20, 20, 1), p2(20, 20, 1);
    Plane planes[3] = {p0.table(), p1.table(), p2.table()};
    // All three channels share one interleaved block.
    Canvas<uint8_t> c0(20, 20, 3, 0);
    std::memset(c0.data.data(), 128, c0.data.size());
    std::vector<uint8_t*> r1, r2;
    for (int32_t y = 0; y < 20; y++) {
        r1.push_back(c0.table()[y] + 1);
        r2.push_back(c0.table()[y] + 2);
    }
    PixelRows pixels[3] = {c0.table(), r1.data(), r2.data()};

    CoefficientTarget t{planes, pixels, 1, 1, 3, g.levelHeight, g.levelWidth, g.lowHeight, g.lowWidth, 2, {}};
    // The 8-bit channels (band 2 centre 3r).
    addCoefficientColour(t, -40, 14, 14); // parts -80, 20, 80
    EXPECT_EQ(c0.table()[7][3 * 7 + 0], 128 - 90);
    EXPECT_EQ(c0.table()[7][3 * 7 + 1], 128 + 24);
    EXPECT_EQ(c0.table()[7][3 * 7 + 2], 128 + 90);

    // The integer planes (band 2 centre 36 v).
    for (Canvas<int32_t>* p : {&p0, &p1, &p2})
        std::fill(p->data.begin(), p->data.end(), 0);
    t.toPixels = 0;
    addCoefficientColour(t, -7, 14, 14);
    EXPECT_EQ(p0.at(7, 7), -14 * 36);
    EXPECT_EQ(p1.at(7, 7), 4 * 36);
    EXPECT_EQ(p2.at(7, 7), 14 * 36);

    // One component: plane 0 alone, value unchanged.
    t.components = 1;
    t.component = 0;
    p1.at(7, 7) = 0;
    addCoefficientColour(t, 2, 14, 14);
    EXPECT_EQ(p0.at(7, 7), -14 * 36 + 72);
    EXPECT_EQ(p1.at(7, 7), 0);
}

} // namespace
