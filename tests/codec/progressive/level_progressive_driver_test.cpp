#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/core/alloc.h"
#include "codec/core/colour_transform.h"
#include "codec/decoder/decoder.h"
#include "codec/core/render.h"
#include "codec/session/session.h"
#include "codec/entropy/context_model.h"
#include "codec/recon/lowest_band.h"
#include "codec/progressive/level_progressive_driver.h"
#include "codec/recon/last_level_expansion.h"
#include "codec/recon/level_expansion.h"
#include "codec/recon/sharpen.h"
#include "codec/session/stream_header.h"
#include "codec/synth/level_grid.h"
#include "codec/synth/synthesis_kernels.h"
#include "progressive_support.h"

namespace {

struct Rng {
    uint32_t state;
    uint32_t below(uint32_t n)
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    }
};

// Lowest bands of 8-bit samples: component 0 above its base, chroma around it.
void writeLowestBands(BitSink& s, int32_t h, int32_t w, int comps, uint32_t seed)
{
    Rng rng{seed};
    int32_t levels = levelCount(h, w);
    int32_t n = levelSize(h, levels) * levelSize(w, levels);
    for (int c = 0; c < comps; c++) {
        uint32_t base = c == 0 ? 10 : 50;
        s.bits(5, 8).bits(8, base);
        for (int32_t i = 0; i < n; i++)
            s.bits(8, c == 0 ? base + rng.below(50) : base - 10 + rng.below(21));
    }
}

struct Options {
    uint32_t halfSize = 0;
    uint32_t sharpen = 0;
    uint32_t exact = 0;
};

struct Decoded {
    int32_t status = -1;
    std::vector<uint8_t> pixels;
    size_t bitsTaken = 0;
    uint32_t endOfData = 0;
};

// Runs the stream decode on a memory reader that stays inspectable.
Decoded decodeInMemory(const std::vector<uint8_t>& bytes, size_t size, Options o = {})
{
    BitReader* reader = createMemoryReader(bytes.data(), size);
    DecodeSession session;
    std::memset(&session, 0, sizeof session);
    session.bits = reader;
    session.sharpen = o.sharpen;
    session.exactSteps = o.exact;
    session.halfSize = o.halfSize;
    streamDecode(&session);

    Decoded d;
    d.status = session.status;
    uint8_t* block = takePixelBlock(session.pixelPlanes, session.components);
    if (block)
        d.pixels.assign(block, block + static_cast<size_t>(session.height) * session.width * session.components);
    freeChecked(block);
    d.bitsTaken = static_cast<size_t>(bitsTaken(reader));
    d.endOfData = reader->endOfData;
    releaseBitReader(reader);
    return d;
}

Decoded decodeInMemory(const std::vector<uint8_t>& bytes, Options o = {})
{
    return decodeInMemory(bytes, bytes.size(), o);
}

// A model value: component, level, band, position and dequantised value.
struct ModelValue {
    int c, L, b;
    Position p;
    int32_t V;
};

// The picture the format defines: lowest bands, colour transform, then per
// level the expansion (sharpening first at level 0) and the detail values.
std::vector<uint8_t> modelPicture(const HeaderFields& hd, uint32_t lowSeed, Options o,
                                  const std::vector<ModelValue>& values)
{
    const int32_t h = hd.height, w = hd.width, comps = hd.colour ? 3 : 1;
    const int32_t levels = levelCount(h, w);
    const bool half = o.halfSize != 0;
    BitSink low;
    writeLowestBands(low, h, w, comps, lowSeed);
    std::vector<uint8_t> lowBytes = low.finish();
    BitReader* reader = createMemoryReader(lowBytes);

    const int32_t rows = half ? h / 2 + 1 : h, cols = half ? w / 2 + 1 : w;
    Plane* planes = makePlanes(rows, cols, comps);
    PixelRows* pixels = makePixelArrays(h, w, comps);
    int32_t mean = readLowestBand(reader, planes[0], h, w, 0, levels, hd.quantStep);
    for (int c = 1; c < comps; c++)
        readLowestBand(reader, planes[c], h, w, c, levels, hd.quantStep);
    releaseBitReader(reader);
    if (comps == 3)
        colourTransform(planes, h, w, levels);

    for (int32_t L = levels - 1; L >= 0; L--) {
        for (int c = 0; c < comps; c++) {
            if (L == 0 && o.sharpen) {
                Plane spare = makePlane(rows, cols);
                sharpenPlane(planes[c], spare, h / 2 + 1, w / 2 + 1, 1);
                freePlane(planes[c]);
                planes[c] = spare;
            }
            if (!half || L > 0)
                expandLevel(planes[c], h, w, L);
            else if (comps == 1)
                expandToGray8(planes[c], pixels[c], h, w);
            else
                expandToRgb8Channel(planes[c], pixels[c], h, w);
        }
        int32_t lowH, levH, lowW, levW;
        bandBounds(h, w, L, 2, &lowH, &levH, &lowW, &levW);
        for (const ModelValue& v : values) {
            if (v.L != L)
                continue;
            if (half && L == 0)
                addCoefficientColourPixels(pixels, v.c, comps, v.V, levH, levW, lowH, lowW, v.b, v.p.row, v.p.col);
            else
                addCoefficientColourPlanes(planes, v.c, comps, v.V, levH, levW, lowH, lowW, v.b, v.p.row, v.p.col);
        }
    }
    if (!half)
        renderPlanes(planes, pixels[0][0], h, w, 8, comps, mean, 0);
    std::vector<uint8_t> out(pixels[0][0], pixels[0][0] + static_cast<size_t>(h) * w * comps);
    freePlanes(planes, comps);
    freePixelArrays(pixels, comps);
    return out;
}

// Plain dequantisation of a written value, as the value coders define it.
std::vector<ModelValue> dequantise(const std::vector<WrittenValue>& written, uint32_t q, Options o,
                                   size_t availableBits = SIZE_MAX)
{
    std::vector<ModelValue> out;
    for (const WrittenValue& wv : written) {
        if (wv.endBit > availableBits)
            break;
        bool near = wv.L < 2 || (o.halfSize && wv.L == 0);
        int32_t J = static_cast<int32_t>(wv.v.J);
        int32_t V = (o.exact && near && J == 1) ? static_cast<int32_t>(q) : J * static_cast<int32_t>(q) + (q >> 1);
        out.push_back({wv.c, wv.L, wv.b, wv.p, wv.v.negative ? -V : V});
    }
    return out;
}

struct SerpentineStream {
    HeaderFields header = progressiveHeader();
    std::vector<uint8_t> bytes;
    std::vector<WrittenValue> written;
    size_t headerBits = 0, lowestEndBit = 0, totalBits = 0;
};

SerpentineStream makeSerpentineStream(HeaderFields hd, uint32_t seed, uint32_t escapeWidth, bool lowMemory = false)
{
    SerpentineStream st;
    hd.mapCoder = 1;
    hd.valueCoder = 3;
    st.header = hd;
    int comps = hd.colour ? 3 : 1;
    BitSink s;
    writeHeader(s, hd);
    st.headerBits = s.bitCount();
    writeLowestBands(s, hd.height, hd.width, comps, seed);
    st.lowestEndBit = s.bitCount();
    Rng rng{seed * 7 + 1};
    st.written = writeSerpentineFixedBody(s, hd.height, hd.width, comps, lowMemory ? 1 : comps, escapeWidth,
                                          [&](int, int, int, Position) {
                                              return DetailValue{rng.below(2), rng.below(1u << escapeWidth)};
                                          });
    st.totalBits = s.bitCount();
    st.bytes = s.finish();
    return st;
}

TEST(LevelProgressiveDriver, DetailFlagsAllZeroGiveTheExpandedLowestBands)
{
    for (bool colour : {false, true}) {
        for (Options o : {Options{0, 0, 0}, Options{1, 0, 0}, Options{0, 1, 0}, Options{1, 1, 0}}) {
            HeaderFields hd = progressiveHeader();
            hd.colour = colour;
            BitSink s;
            writeHeader(s, hd);
            writeLowestBands(s, hd.height, hd.width, colour ? 3 : 1, 5);
            for (int32_t L = levelCount(hd.height, hd.width) - 1; L >= 0; L--)
                s.bit(0);
            size_t bits = s.bitCount();
            Decoded d = decodeInMemory(s.finish(), o);
            EXPECT_EQ(d.status, ZR_OK);
            EXPECT_EQ(d.bitsTaken, bits);
            EXPECT_EQ(d.pixels, modelPicture(hd, 5, o, {}))
                << "colour " << colour << " half " << o.halfSize << " sharpen " << o.sharpen;
        }
    }
}

TEST(LevelProgressiveDriver, SharpeningTouchesEveryComponent)
{
    HeaderFields hd = progressiveHeader();
    hd.colour = true;
    BitSink s;
    writeHeader(s, hd);
    writeLowestBands(s, hd.height, hd.width, 3, 9);
    for (int32_t L = levelCount(hd.height, hd.width) - 1; L >= 0; L--)
        s.bit(0);
    std::vector<uint8_t> bytes = s.finish();
    std::vector<uint8_t> plain = decodeInMemory(bytes).pixels;
    std::vector<uint8_t> sharp = decodeInMemory(bytes, Options{0, 1, 0}).pixels;
    ASSERT_EQ(plain.size(), sharp.size());
    bool differs[3] = {false, false, false};
    for (size_t i = 0; i < plain.size(); i++)
        differs[i % 3] |= plain[i] != sharp[i];
    EXPECT_TRUE(differs[0] && differs[1] && differs[2]);
}

TEST(LevelProgressiveDriver, SerpentineStreamsMatchTheModel)
{
    struct Case {
        bool colour;
        Options o;
        uint32_t escapeWidth;
    };
    const Case cases[] = {
        {false, {0, 0, 0}, 3}, {false, {0, 0, 1}, 2}, {true, {0, 0, 0}, 2},
        {true, {0, 1, 1}, 2},  {false, {1, 0, 0}, 3}, {true, {1, 0, 0}, 2},
    };
    for (const Case& c : cases) {
        HeaderFields hd = progressiveHeader();
        hd.colour = c.colour;
        SerpentineStream st = makeSerpentineStream(hd, 11, c.escapeWidth, c.o.halfSize != 0);
        Decoded d = decodeInMemory(st.bytes, c.o);
        EXPECT_EQ(d.status, ZR_OK);
        EXPECT_EQ(d.bitsTaken, st.totalBits);
        EXPECT_EQ(d.endOfData, 0u);
        EXPECT_EQ(d.pixels, modelPicture(st.header, 11, c.o, dequantise(st.written, hd.quantStep, c.o)))
            << "colour " << c.colour << " half " << c.o.halfSize;
    }
}

TEST(LevelProgressiveDriver, AStreamEndingInsideBandOneSkipsBandTwo)
{
    HeaderFields hd = progressiveHeader();
    hd.colour = true;
    SerpentineStream st = makeSerpentineStream(hd, 3, 2);
    // Cut inside band 1 of component 0 at the coarsest level.
    int32_t coarsest = levelCount(hd.height, hd.width) - 1;
    size_t cutBit = 0;
    for (const WrittenValue& wv : st.written)
        if (wv.c == 0 && wv.L == coarsest && wv.b == 1) {
            cutBit = wv.endBit + 1;
            break;
        }
    ASSERT_GT(cutBit, 0u);
    size_t cut = cutBit / 8 + 1;
    Decoded d = decodeInMemory(st.bytes, cut);
    EXPECT_EQ(d.status, ZR_OK);
    EXPECT_EQ(d.endOfData, 1u);
    std::vector<ModelValue> kept = dequantise(st.written, hd.quantStep, {}, cut * 8);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back().b, 1);
    EXPECT_EQ(d.pixels, modelPicture(st.header, 3, {}, kept));
}

TEST(LevelProgressiveDriver, EveryCutOfASmallStreamDecodesToAWholePicture)
{
    HeaderFields hd = progressiveHeader();
    hd.colour = true;
    hd.height = 20;
    hd.width = 22;
    SerpentineStream st = makeSerpentineStream(hd, 21, 1);
    size_t first = (st.headerBits + 7) / 8;
    for (size_t cut = first; cut <= st.bytes.size(); cut++) {
        Decoded d = decodeInMemory(st.bytes, cut);
        ASSERT_EQ(d.status, ZR_OK) << cut;
        ASSERT_EQ(d.pixels.size(), static_cast<size_t>(hd.height) * hd.width * 3);
        if (cut * 8 >= st.lowestEndBit)
            ASSERT_EQ(d.pixels, modelPicture(st.header, 21, {}, dequantise(st.written, hd.quantStep, {}, cut * 8)))
                << cut;
        else
            ASSERT_EQ(d.pixels, decodeInMemory(st.bytes, cut).pixels) << cut;
    }
}

// Encodes one context-model segment of values (valueCoder 0).
void writeContextSegment(BitSink& s, const std::vector<int32_t>& values)
{
    ContextModel* model = createContextModel();
    ASSERT_NE(model, nullptr);
    startContextEncoder(1, model, 0);
    for (int32_t v : values)
        ASSERT_EQ(encodeContextValue(s.writer(), v, model), 0);
    endContextEncoder(s.writer(), model);
}

// A raster / context-model stream (mapCoder 0, valueCoder 0): symbols for
// every untested position of the coarsest level; finer levels either carry
// no detail or, after an all-zero coarsest level, empty segments only.
struct RasterStream {
    HeaderFields header = progressiveHeader();
    std::vector<uint8_t> bytes;
    size_t bits = 0;
    std::vector<ModelValue> values;
};

RasterStream makeRasterStream(bool colour, bool allZero)
{
    RasterStream st;
    HeaderFields& hd = st.header;
    hd.colour = colour;
    hd.mapCoder = 0;
    hd.valueCoder = 0;
    const int comps = colour ? 3 : 1;
    const int32_t levels = levelCount(hd.height, hd.width);
    BitSink s;
    writeHeader(s, hd);
    writeLowestBands(s, hd.height, hd.width, comps, 2);
    Rng rng{99};
    s.bit(1);
    for (int c = 0; c < comps; c++) {
        std::vector<int32_t> symbols;
        for (int b = 0; b < 3; b++) {
            BandRect band = bandRect(hd.height, hd.width, levels - 1, b);
            for (int32_t r = band.rowStart; r < band.rowEnd; r++)
                for (int32_t col = band.colStart; col < band.colEnd; col++) {
                    int32_t sym = allZero ? 0 : static_cast<int32_t>(rng.below(7));
                    symbols.push_back(sym);
                    if (sym != 0) {
                        int32_t V = ((sym - 1) >> 1) * 20 + 10;
                        st.values.push_back({c, levels - 1, b, {r, col}, (sym & 1) ? -V : V});
                    }
                }
        }
        writeContextSegment(s, symbols);
    }
    for (int32_t L = levels - 2; L >= 0; L--) {
        s.bit(allZero ? 1 : 0);
        for (int c = 0; allZero && c < comps; c++)
            writeContextSegment(s, {});
    }
    st.bits = s.bitCount();
    st.bytes = s.finish();
    return st;
}

TEST(LevelProgressiveDriver, RasterContextStreamsMatchTheModel)
{
    for (bool colour : {false, true}) {
        RasterStream st = makeRasterStream(colour, false);
        ASSERT_FALSE(st.values.empty());
        Decoded d = decodeInMemory(st.bytes);
        EXPECT_EQ(d.status, ZR_OK);
        EXPECT_EQ(d.bitsTaken, st.bits);
        EXPECT_EQ(d.pixels, modelPicture(st.header, 2, {}, st.values)) << colour;
    }
}

TEST(LevelProgressiveDriver, ZeroTreesPropagateDownToLevelZero)
{
    // Every coarsest position is insignificant, so every finer position is a
    // known zero: the finer levels read their segments' start and end only.
    for (bool colour : {false, true}) {
        RasterStream st = makeRasterStream(colour, true);
        Decoded d = decodeInMemory(st.bytes);
        EXPECT_EQ(d.status, ZR_OK);
        EXPECT_EQ(d.bitsTaken, st.bits);
        EXPECT_EQ(d.endOfData, 0u);
        EXPECT_EQ(d.pixels, modelPicture(st.header, 2, {}, {})) << colour;
    }
}

TEST(LevelProgressiveDriver, MapCoderThreeReadsOnlyStartAndEndData)
{
    for (uint32_t valueCoder : {0u, 1u, 2u, 3u}) {
        HeaderFields hd = progressiveHeader();
        hd.colour = true;
        hd.mapCoder = 3;
        hd.valueCoder = valueCoder;
        BitSink s;
        writeHeader(s, hd);
        writeLowestBands(s, hd.height, hd.width, 3, 4);
        for (int32_t L = levelCount(hd.height, hd.width) - 1; L >= 0; L--) {
            s.bit(1);
            for (int c = 0; c < 3; c++) {
                if (valueCoder == 0)
                    writeContextSegment(s, {});
                else if (valueCoder != 2)
                    s.bits(5, 31);
            }
        }
        size_t bits = s.bitCount();
        Decoded d = decodeInMemory(s.finish());
        EXPECT_EQ(d.status, ZR_OK);
        EXPECT_EQ(d.bitsTaken, bits) << valueCoder;
        EXPECT_EQ(d.pixels, modelPicture(hd, 4, {}, {})) << valueCoder;
    }
}

// A byte source over a vector that asks for a partial picture before every
// byte and notes what it got.
struct Observation {
    int32_t level, phase, status, partHeight, partWidth;
    uint8_t* pixels;
};

struct StreamingSource {
    explicit StreamingSource(const std::vector<uint8_t>* data) : bytes(data) {}
    const std::vector<uint8_t>* bytes;
    size_t position = 0;
    FrameInfo* frame = nullptr;
    std::vector<Observation> seen;
};

int32_t streamingByte(void* context, uint32_t* slot)
{
    StreamingSource* src = static_cast<StreamingSource*>(context);
    if (src->frame && src->frame->session) {
        DecodeSession* session = src->frame->session;
        Observation o{session->level, session->phase, 0, 0, 0, nullptr};
        src->frame->pixels = nullptr;
        o.status = decodeContinue(src->frame);
        o.partHeight = src->frame->partHeight;
        o.partWidth = src->frame->partWidth;
        o.pixels = src->frame->pixels;
        EXPECT_EQ(session->status, ZR_OK);
        src->seen.push_back(o);
    }
    if (src->position >= src->bytes->size())
        return 1;
    *slot = (*src->bytes)[src->position++];
    return 0;
}

DecodedFrame decodeStreaming(StreamingSource& src, Options o = {})
{
    StreamSource source{nullptr, 0, 0, 0};
    DecodeOptions options{};
    options.halfSize = o.halfSize;
    options.exactSteps = o.exact;
    options.sharpen = o.sharpen;
    options.byteSource = streamingByte;
    options.sourceContext = &src;
    FrameInfo frame{};
    src.frame = &frame;
    DecodedFrame result;
    result.status = decodeStart(&source, &options, &frame);
    src.frame = nullptr;
    result.pixels = framePixels(frame);
    for (Observation& obs : src.seen)
        if (obs.pixels == frame.pixels)
            obs.pixels = reinterpret_cast<uint8_t*>(1); // the final block itself
    decodeFree(&frame);
    return result;
}

TEST(LevelProgressiveDriver, PartialPicturesFollowTheLevels)
{
    HeaderFields hd = progressiveHeader();
    hd.height = 100;
    hd.width = 60;
    ASSERT_EQ(levelCount(100, 60), 3);
    SerpentineStream st = makeSerpentineStream(hd, 8, 0);
    StreamingSource src(&st.bytes);
    DecodedFrame streamed = decodeStreaming(src);
    EXPECT_EQ(streamed.status, ZR_OK);
    // Rendering partial pictures leaves the decode unchanged.
    EXPECT_EQ(streamed.pixels, decodeInMemory(st.bytes).pixels);

    int levelTwo = 0, refused = 0;
    for (const Observation& o : src.seen) {
        if (o.phase == PHASE_LEVEL_READY) {
            EXPECT_EQ(o.status, ZR_OK);
            EXPECT_NE(o.pixels, nullptr);
            EXPECT_EQ(o.partHeight, levelSize(100, o.level));
            EXPECT_EQ(o.partWidth, levelSize(60, o.level));
            if (o.level == 2) {
                levelTwo++;
                EXPECT_EQ(o.partHeight, 26);
                EXPECT_EQ(o.partWidth, 16);
            }
        } else {
            // Header and lowest bands: nothing to show yet.
            EXPECT_EQ(o.status, ZR_NO_PARTIAL_YET);
            refused++;
        }
    }
    EXPECT_GT(levelTwo, 0);
    EXPECT_GT(refused, 0);
}

// A byte source that keeps a copy of the partial picture (the level's part at
// the start of the block) it asks for before every byte, with its level.
struct CopyingSource {
    const std::vector<uint8_t>* bytes;
    size_t position = 0;
    FrameInfo* frame = nullptr;
    std::vector<std::pair<int32_t, std::vector<uint8_t>>> pictures;
};

int32_t copyingByte(void* context, uint32_t* slot)
{
    CopyingSource* src = static_cast<CopyingSource*>(context);
    FrameInfo* frame = src->frame;
    if (frame && frame->session && decodeContinue(frame) == ZR_OK && frame->pixels) {
        const size_t bytes = static_cast<size_t>(frame->partHeight) * frame->partWidth;
        src->pictures.emplace_back(frame->session->level, std::vector<uint8_t>(frame->pixels, frame->pixels + bytes));
    }
    if (src->position >= src->bytes->size())
        return 1;
    *slot = (*src->bytes)[src->position++];
    return 0;
}

// Level 0's values gather in a grid of their own where the memory budget has
// room for it, else they are added one by one: the partial pictures and the
// final picture are the same either way.
TEST(LevelProgressiveDriver, LevelZeroGatheredOrAddedOneByOneGivesTheSamePictures)
{
    HeaderFields hd = progressiveHeader();
    hd.height = 100;
    hd.width = 60;
    SerpentineStream st = makeSerpentineStream(hd, 9, 3);
    DecodeSession probe{};
    probe.height = hd.height;
    probe.width = hd.width;
    probe.components = 1;
    probe.bitsPerSample = 8;
    const uint64_t gridBytes = static_cast<uint64_t>(levelGridCells(hd.height, hd.width)) * sizeof(int32_t);

    std::vector<uint8_t> finals[2];
    std::vector<std::pair<int32_t, std::vector<uint8_t>>> pictures[2];
    for (int roomy = 0; roomy < 2; roomy++) {
        DecodeLimits limits{};
        // Without room the grid would leave less than itself free.
        limits.memoryBytes = roomy ? 0 : pictureMemoryBytes(&probe) + gridBytes;
        CopyingSource src{&st.bytes, 0, nullptr, {}};
        StreamSource source{nullptr, 0, 0, 0};
        DecodeOptions options{};
        options.byteSource = copyingByte;
        options.sourceContext = &src;
        FrameInfo frame{};
        src.frame = &frame;
        EXPECT_EQ(decodeStartWithin(&source, &options, &frame, &limits), ZR_OK);
        src.frame = nullptr;
        finals[roomy] = framePixels(frame);
        decodeFree(&frame);
        pictures[roomy] = std::move(src.pictures);
    }
    EXPECT_EQ(finals[0], finals[1]);
    EXPECT_EQ(finals[1], modelPicture(st.header, 9, {}, dequantise(st.written, hd.quantStep, {})));
    ASSERT_EQ(pictures[0].size(), pictures[1].size());
    int32_t atLevelZero = 0;
    for (size_t i = 0; i < pictures[0].size(); i++) {
        EXPECT_EQ(pictures[0][i], pictures[1][i]) << "picture " << i;
        atLevelZero += pictures[1][i].first == 0;
    }
    EXPECT_GT(atLevelZero, 10);
}

TEST(LevelProgressiveDriver, PartialPictureRefusals)
{
    DecodeSession session;
    std::memset(&session, 0, sizeof session);
    FrameInfo frame{};
    frame.session = &session;
    int32_t h, w, ph, pw, bps, comps;

    session.phase = PHASE_NONE; // expansion in progress
    EXPECT_EQ(partialPicture(&session, &h, &w, &ph, &pw, &bps, &comps), nullptr);
    EXPECT_EQ(session.status, ZR_NO_PARTIAL_YET);
    session.status = ZR_OK;
    EXPECT_EQ(decodeContinue(&frame), ZR_NO_PARTIAL_YET);
    EXPECT_EQ(session.status, ZR_OK);

    session.phase = PHASE_DONE;
    EXPECT_EQ(decodeContinue(&frame), ZR_NO_PARTIAL_YET);
    session.phase = PHASE_ONE_PASS;
    EXPECT_EQ(decodeContinue(&frame), ZR_NO_PARTIAL_ONE_PASS);
    EXPECT_EQ(session.status, ZR_OK);

    // Another pending status: nothing changes.
    session.phase = PHASE_LEVEL_READY;
    session.status = ZR_OUT_OF_MEMORY;
    EXPECT_EQ(partialPicture(&session, &h, &w, &ph, &pw, &bps, &comps), nullptr);
    EXPECT_EQ(session.status, ZR_OUT_OF_MEMORY);
    EXPECT_EQ(session.phase, PHASE_LEVEL_READY);
}

TEST(LevelProgressiveDriver, PartialPictureToneTableFailureSetsStatus8)
{
    HeaderFields hd = progressiveHeader();
    DecodeSession session;
    std::memset(&session, 0, sizeof session);
    session.height = hd.height;
    session.width = hd.width;
    session.components = 1;
    session.bitsPerSample = 8;
    session.level = 1;
    session.phase = PHASE_LEVEL_READY;
    session.planes = makePlanes(hd.height, hd.width, 1);
    session.pixelPlanes = makePixelArrays(hd.height, hd.width, 1);
    int32_t h, w, ph, pw, bps, comps;
    size_t saved = allocLimit();
    setAllocLimit(256); // below the 512-byte tone table
    EXPECT_EQ(partialPicture(&session, &h, &w, &ph, &pw, &bps, &comps), nullptr);
    setAllocLimit(saved);
    EXPECT_EQ(session.status, ZR_OUT_OF_MEMORY);
    freePlanes(session.planes, 1);
    freePixelArrays(session.pixelPlanes, 1);
}

TEST(LevelProgressiveDriver, LowMemoryColourDecodesComponentZeroAtLevelZero)
{
    HeaderFields hd = progressiveHeader();
    hd.colour = true;
    Options o{1, 0, 0};
    SerpentineStream st = makeSerpentineStream(hd, 6, 2, true);
    Decoded d = decodeInMemory(st.bytes, o);
    EXPECT_EQ(d.status, ZR_OK);
    EXPECT_EQ(d.bitsTaken, st.totalBits);
    EXPECT_EQ(d.pixels, modelPicture(st.header, 6, o, dequantise(st.written, hd.quantStep, o)));

    // During level 0 the pixel block itself is the partial picture.
    StreamingSource src(&st.bytes);
    DecodedFrame streamed = decodeStreaming(src, o);
    EXPECT_EQ(streamed.pixels, d.pixels);
    int pixelsReady = 0;
    for (const Observation& obs : src.seen)
        if (obs.phase == PHASE_PIXELS_READY) {
            pixelsReady++;
            EXPECT_EQ(obs.level, 0);
            EXPECT_EQ(obs.status, ZR_OK);
            EXPECT_EQ(obs.partHeight, static_cast<int32_t>(hd.height));
            EXPECT_EQ(obs.partWidth, static_cast<int32_t>(hd.width));
            EXPECT_EQ(obs.pixels, reinterpret_cast<uint8_t*>(1));
        }
    EXPECT_GT(pixelsReady, 0);
}

TEST(LevelProgressiveDriver, TreeAllocationFailureEndsWithStatus8)
{
    // The run tree (256 symbols) at the start, the value tree (2048) at the
    // first level with detail; the picture itself fits the limit.
    struct Case {
        uint32_t mapCoder, valueCoder;
        size_t limit;
    };
    for (Case c : {Case{0, 1, 4000}, Case{1, 1, 20000}, Case{2, 3, 1500}}) {
        HeaderFields hd = progressiveHeader();
        hd.height = 16;
        hd.width = 16;
        hd.mapCoder = c.mapCoder;
        hd.valueCoder = c.valueCoder;
        BitSink s;
        writeHeader(s, hd);
        writeLowestBands(s, hd.height, hd.width, 1, 1);
        for (int i = 0; i < 64; i++)
            s.bits(8, 0xA7);
        std::vector<uint8_t> bytes = s.finish();
        size_t saved = allocLimit();
        setAllocLimit(c.limit);
        DecodedFrame r = decodeBytes(bytes);
        setAllocLimit(saved);
        EXPECT_EQ(r.status, ZR_OUT_OF_MEMORY) << c.mapCoder << "/" << c.valueCoder;
        EXPECT_EQ(decodeBytes(bytes).status, ZR_OK);
    }
}

// A source that lowers the allocation limit at one byte request and restores
// it at the next, and notes the last request made during level 1.
struct LimitingSource {
    const std::vector<uint8_t>* bytes;
    size_t position = 0;
    FrameInfo* frame = nullptr;
    size_t lowerAt = SIZE_MAX;
    size_t lastAtLevelOne = 0;
    size_t savedLimit = 0;
};

int32_t limitingByte(void* context, uint32_t* slot)
{
    LimitingSource* src = static_cast<LimitingSource*>(context);
    size_t request = src->position;
    if (request == src->lowerAt + 1)
        setAllocLimit(src->savedLimit);
    if (src->frame->session && src->frame->session->level == 1)
        src->lastAtLevelOne = request;
    if (request == src->lowerAt) {
        src->savedLimit = allocLimit();
        setAllocLimit(64);
    }
    if (src->position >= src->bytes->size())
        return 1;
    *slot = (*src->bytes)[src->position++];
    return 0;
}

DecodedFrame decodeLimited(LimitingSource& src)
{
    StreamSource source{nullptr, 0, 0, 0};
    DecodeOptions options{};
    options.sharpen = 1;
    options.byteSource = limitingByte;
    options.sourceContext = &src;
    FrameInfo frame{};
    src.frame = &frame;
    DecodedFrame result;
    result.status = decodeStart(&source, &options, &frame);
    result.pixels = framePixels(frame);
    decodeFree(&frame);
    return result;
}

TEST(LevelProgressiveDriver, WithoutASparePlaneSharpeningIsSkipped)
{
    HeaderFields hd = progressiveHeader();
    hd.colour = true;
    SerpentineStream st = makeSerpentineStream(hd, 13, 2);
    LimitingSource probe{&st.bytes};
    ASSERT_EQ(decodeLimited(probe).status, ZR_OK);

    // The spare plane is the only allocation between the last byte of level
    // 1 and the next byte: make it fail.
    LimitingSource src{&st.bytes};
    src.lowerAt = probe.lastAtLevelOne;
    DecodedFrame r = decodeLimited(src);
    EXPECT_EQ(r.status, ZR_OK);
    std::vector<ModelValue> values = dequantise(st.written, hd.quantStep, {});
    EXPECT_EQ(r.pixels, modelPicture(st.header, 13, {}, values));
    EXPECT_NE(r.pixels, modelPicture(st.header, 13, Options{0, 1, 0}, values));
}

// Arbitrary bytes after a valid header and lowest bands, for every coder
// combination: every cut decodes with status 0, and twice the same way.
TEST(LevelProgressiveDriver, RandomBodiesDecodeSafelyAtEveryCut)
{
    Rng rng{2024};
    for (uint32_t mapCoder = 0; mapCoder < 4; mapCoder++) {
        for (uint32_t valueCoder = 0; valueCoder < 4; valueCoder++) {
            HeaderFields hd = progressiveHeader();
            hd.height = 18;
            hd.width = 21;
            hd.colour = (mapCoder + valueCoder) & 1;
            hd.mapCoder = mapCoder;
            hd.valueCoder = valueCoder;
            hd.fineSteps = valueCoder & 2 ? 2 : 0;
            hd.magnitudeBoost = mapCoder & 1;
            Options o{(mapCoder >> 1) & 1, valueCoder & 1, mapCoder & 1};
            BitSink s;
            writeHeader(s, hd);
            size_t first = (s.bitCount() + 7) / 8;
            writeLowestBands(s, hd.height, hd.width, hd.colour ? 3 : 1, mapCoder * 4 + valueCoder);
            for (int i = 0; i < 160; i++)
                s.bits(8, rng.below(256));
            std::vector<uint8_t> bytes = s.finish();
            int32_t expected = mapCoder == 2 && valueCoder == 0 ? ZR_UNSUPPORTED_CODER : ZR_OK;
            for (size_t cut = first; cut <= bytes.size(); cut += 1) {
                Decoded a = decodeInMemory(bytes, cut, o);
                ASSERT_EQ(a.status, expected) << mapCoder << "/" << valueCoder << " cut " << cut;
                if (expected != ZR_OK)
                    break;
                Decoded b = decodeInMemory(bytes, cut, o);
                ASSERT_EQ(a.pixels, b.pixels) << mapCoder << "/" << valueCoder << " cut " << cut;
                ASSERT_EQ(a.pixels.size(), static_cast<size_t>(hd.height) * hd.width * (hd.colour ? 3 : 1));
            }
        }
    }
}

// A callback source whose last byte is 0xFF keeps repeating it after the
// end; no coder may read on forever.
TEST(LevelProgressiveDriver, CallbackStreamsEndingInFFTerminate)
{
    for (uint32_t mapCoder = 0; mapCoder < 4; mapCoder++) {
        for (uint32_t valueCoder = 0; valueCoder < 4; valueCoder++) {
            if (mapCoder == 2 && valueCoder == 0)
                continue;
            HeaderFields hd = progressiveHeader();
            hd.mapCoder = mapCoder;
            hd.valueCoder = valueCoder;
            BitSink s;
            writeHeader(s, hd);
            writeLowestBands(s, hd.height, hd.width, 1, 3);
            for (int i = 0; i < 12; i++)
                s.bits(8, 0xFF);
            std::vector<uint8_t> bytes = s.finish();
            StreamingSource src(&bytes);
            DecodedFrame r = decodeStreaming(src, Options{valueCoder & 1, 0, 0});
            EXPECT_EQ(r.status, ZR_OK) << mapCoder << "/" << valueCoder;
        }
    }
}

} // namespace
