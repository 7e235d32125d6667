// Test helper: builds small one-pass streams (raster-run maps, unary or
// fixed-width values) together with the picture they must decode to,
// composed from the reconstruction pieces.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "codec/core/colour_transform.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/recon/last_level_expansion.h"
#include "codec/recon/level_expansion.h"
#include "codec/recon/sharpen.h"
#include "codec/synth/synthesis_kernels.h"
#include "tests/codec/onepass/stream_builder.h"
#include "tests/support/stream_header.h"

struct OnePassParams {
    int32_t height = 40;
    int32_t width = 40;
    int32_t components = 1;
    uint32_t quantStep = 6;
    int32_t mapCoder = 0;      // 0 (raster runs) or 3 (no map)
    int32_t valueCoder = 3;    // 2 (unary) or 3 (fixed width)
    int32_t mapLevel[3] = {0, 0, 0};
    int32_t density = 11;      // about one position in `density` is coded significant
    uint32_t exactSteps = 0;
    int32_t sharpen = 0;
    uint32_t halfSize = 0;
    bool header = false;       // precede the coded data with magic and header
};

struct OnePassStream {
    std::vector<uint8_t> bytes;
    int64_t headerEnd = 0;     // bit positions
    int64_t lowestEnd = 0;
    int64_t mapsEnd = 0;
    int64_t totalBits = 0;
};

inline int32_t paramLevels(const OnePassParams& s) { return levelCount(s.height, s.width); }

inline bool coefSignificant(int32_t r, int32_t c, int32_t comp, int32_t density)
{
    return (r * 7 + c * 13 + comp * 5) % density == 0;
}
inline int32_t coefOnes(int32_t r, int32_t c, int32_t comp) { return (r + 2 * c + comp) % 5; }
inline bool coefNegative(int32_t r, int32_t c, int32_t comp) { return (r * 3 + c + comp) % 3 == 0; }
inline int32_t lowestSample(int32_t r, int32_t c, int32_t comp) { return (r * 3 + c * 5 + comp) % 16; }
constexpr int32_t kLowestBase = 3;

typedef std::vector<std::vector<uint8_t>> RefMap;

// The component's map as the decoder must see it, and its runs.
inline RefMap referenceMap(const OnePassParams& s, int32_t comp, std::vector<int32_t>* runs)
{
    RefMap map(s.height, std::vector<uint8_t>(s.width, 1));
    if (s.mapCoder == 3)
        return map;
    const int32_t r0 = s.mapLevel[comp];
    const int32_t rows = levelSize(s.height, r0), cols = levelSize(s.width, r0);
    const int32_t levels = paramLevels(s) - r0;
    *runs = referenceRuns(map, rows, cols, levels,
                          [&](int32_t r, int32_t c) { return coefSignificant(r, c, comp, s.density); });
    return map;
}

// Which target component `comp` receives detail in at level L: 0 none,
// 1 planes, 2 pixels.
inline int32_t detailTarget(const OnePassParams& s, int32_t L, int32_t comp)
{
    if (L == 0 && s.halfSize)
        return s.mapLevel[comp] == 0 ? 2 : 0;
    return L >= s.mapLevel[comp] ? 1 : 0;
}

inline HeaderFields paramHeader(const OnePassParams& s)
{
    HeaderFields h;
    h.height = static_cast<uint32_t>(s.height);
    h.width = static_cast<uint32_t>(s.width);
    h.colour = s.components == 3;
    h.quantStep = s.quantStep;
    h.mapCoder = static_cast<uint32_t>(s.mapCoder);
    h.valueCoder = static_cast<uint32_t>(s.valueCoder);
    return h;
}

inline void writeLowestBands(BitSink& sink, const OnePassParams& s)
{
    const int32_t L = paramLevels(s);
    for (int32_t comp = 0; comp < s.components; comp++) {
        sink.bits(5, 4);
        sink.bits(4, kLowestBase);
        for (int32_t r = 0; r < levelSize(s.height, L); r++)
            for (int32_t c = 0; c < levelSize(s.width, L); c++)
                sink.bits(4, lowestSample(r, c, comp));
    }
}

inline OnePassStream buildOnePassStream(const OnePassParams& s)
{
    OnePassStream out;
    BitSink sink;
    if (s.header)
        writeHeader(sink, paramHeader(s));
    out.headerEnd = sink.bitCount();
    writeLowestBands(sink, s);
    out.lowestEnd = sink.bitCount();

    std::vector<RefMap> maps;
    for (int32_t comp = 0; comp < s.components; comp++) {
        std::vector<int32_t> runs;
        maps.push_back(referenceMap(s, comp, &runs));
        sink.unary(s.mapLevel[comp]);
        if (s.mapCoder == 0) {
            AdaptiveHuffmanTree tree;
            initHuffmanTree(&tree, 256, 0);
            for (int32_t run : runs)
                encodeHuffmanValue(sink.writer(), &tree, run);
            freeHuffmanTree(&tree);
        }
    }
    out.mapsEnd = sink.bitCount();

    for (int32_t L = paramLevels(s) - 1; L >= 0; L--)
        for (int32_t comp = 0; comp < s.components; comp++) {
            if (!detailTarget(s, L, comp))
                continue;
            if (s.valueCoder == 3)
                sink.bits(5, 3);
            for (int32_t t = 0; t < 3; t++) {
                BandRect b = bandRect(s.height, s.width, L, t);
                for (int32_t r = b.rowStart; r < b.rowEnd; r++)
                    for (int32_t c = b.colStart; c < b.colEnd; c++) {
                        uint8_t code = maps[comp][r][c];
                        if (code == 1)
                            continue;
                        sink.bit(coefNegative(r, c, comp));
                        int32_t ones = coefOnes(r, c, comp);
                        if (s.valueCoder == 3)
                            sink.bits(3, ones + (code == 2));
                        else
                            sink.unary(ones);
                    }
            }
        }
    out.totalBits = sink.bitCount();
    out.bytes = sink.finish();
    return out;
}

// The expected picture: full-size integer planes (and, in low-memory mode,
// the pixels), with detail unless withDetail is false.
struct OnePassReference {
    OnePassReference(const OnePassParams& s, bool withDetail) : params(s)
    {
        const int32_t n = s.components, H = s.height, W = s.width, levels = paramLevels(s);
        planes = makePlanes(H, W, n);
        pixels = makePixelArrays(H, W, n);
        const int32_t Q = 32 * static_cast<int32_t>(s.quantStep);
        for (int32_t comp = 0; comp < n; comp++)
            for (int32_t r = 0; r < levelSize(H, levels); r++)
                for (int32_t c = 0; c < levelSize(W, levels); c++) {
                    int32_t d = lowestSample(r, c, comp) - kLowestBase;
                    planes[comp][r][c] = d > 0 ? Q * (2 * d + 1)
                        : d < 0 ? -(Q * (-2 * d + 1)) : (comp == 0 ? Q : 0);
                }
        if (n == 3 && !s.halfSize)
            colourTransform(planes, H, W, levels);
        std::vector<RefMap> maps;
        for (int32_t comp = 0; comp < n; comp++) {
            std::vector<int32_t> runs;
            maps.push_back(referenceMap(s, comp, &runs));
        }
        for (int32_t L = levels - 1; L >= 0; L--) {
            if (L == 0 && s.sharpen) {
                Plane sharpened = makePlane(H, W);
                sharpenPlane(planes[0], sharpened, H / 2 + 1, W / 2 + 1, 1);
                freePlane(planes[0]);
                planes[0] = sharpened;
            }
            if (L == 0 && s.halfSize) {
                if (n == 1)
                    expandToGray8(planes[0], pixels[0], H, W);
                else
                    expandYuvToRgb8(planes, pixels[0], H, W);
            } else {
                for (int32_t comp = 0; comp < n; comp++)
                    expandLevel(planes[comp], H, W, L);
            }
            if (!withDetail)
                continue;
            int32_t lh, rh, lw, rw;
            bandBounds(H, W, L, 2, &lh, &rh, &lw, &rw);
            for (int32_t comp = 0; comp < n; comp++) {
                int32_t target = detailTarget(s, L, comp);
                if (!target)
                    continue;
                for (int32_t t = 0; t < 3; t++) {
                    BandRect b = bandRect(H, W, L, t);
                    for (int32_t r = b.rowStart; r < b.rowEnd; r++)
                        for (int32_t c = b.colStart; c < b.colEnd; c++) {
                            uint8_t code = maps[comp][r][c];
                            if (code == 1)
                                continue;
                            int32_t J = coefOnes(r, c, comp) + (code == 2);
                            int32_t q = static_cast<int32_t>(s.quantStep);
                            int32_t v = (s.exactSteps && L < 2 && J == 1) ? q : J * q + q / 2;
                            if (coefNegative(r, c, comp))
                                v = -v;
                            if (target == 2)
                                addCoefficientColourPixels(pixels, comp, n, v, rh, rw, lh, lw, t, r, c);
                            else if (n == 1 || s.halfSize)
                                addCoefficientPlane(planes[comp], comp ? 2 * v : v, rh, rw, lh, lw, t, r, c);
                            else
                                addCoefficientColourPlanes(planes, comp, n, v, rh, rw, lh, lw, t, r, c);
                        }
                }
            }
        }
    }
    ~OnePassReference()
    {
        freePlanes(planes, params.components);
        freePixelArrays(pixels, params.components);
    }
    OnePassReference(const OnePassReference&) = delete;
    OnePassReference& operator=(const OnePassReference&) = delete;

    OnePassParams params;
    Plane* planes;
    PixelRows* pixels;
};
