#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/core/alloc.h"
#include "codec/decoder/decoder.h"
#include "codec/core/render.h"
#include "codec/session/session.h"
#include "codec/onepass/one_pass_driver.h"
#include "tests/codec/onepass/one_pass_stream.h"
#include "tests/support/decode_to_pixels.h"

namespace {

// A session set up as the stream decode leaves it for the driver, reading
// header-less coded data.
class DriverRun {
public:
    DriverRun(const OnePassParams& params, const std::vector<uint8_t>& data) : params_(params), src_(data)
    {
        s_.bits = src_.reader();
        s_.height = params.height;
        s_.width = params.width;
        s_.components = params.components;
        s_.bitsPerSample = 8;
        s_.levels = paramLevels(params);
        s_.quantStep = params.quantStep;
        s_.mapCoder = params.mapCoder;
        s_.valueCoder = params.valueCoder;
        s_.sharpen = params.sharpen;
        s_.exactSteps = params.exactSteps;
        s_.halfSize = params.halfSize;
        s_.phase = PHASE_ONE_PASS;
        s_.planes = params.halfSize ? makePlanes(params.height / 2 + 1, params.width / 2 + 1, params.components)
                                  : makePlanes(params.height, params.width, params.components);
        s_.pixelPlanes = makePixelArrays(params.height, params.width, params.components);
        // Stale memory that a whole picture must overwrite.
        std::memset(s_.pixelPlanes[0][0], 0xA5, pixelBytes());
    }
    ~DriverRun()
    {
        freePlanes(s_.planes, params_.components);
        freePixelArrays(s_.pixelPlanes, params_.components);
    }
    int32_t run() { return decodeOnePass(&s_); }
    DecodeSession& session() { return s_; }
    BitSource& source() { return src_; }
    size_t pixelBytes() const { return static_cast<size_t>(params_.height) * params_.width * params_.components; }

    // The decoded picture equals the reference: planes, or pixels in low-memory mode.
    ::testing::AssertionResult matches(const OnePassReference& ref) const
    {
        if (params_.halfSize) {
            if (std::memcmp(s_.pixelPlanes[0][0], ref.pixels[0][0], pixelBytes()) != 0)
                return ::testing::AssertionFailure() << "pixels differ";
            return ::testing::AssertionSuccess();
        }
        for (int32_t i = 0; i < params_.components; i++)
            for (int32_t r = 0; r < params_.height; r++)
                for (int32_t c = 0; c < params_.width; c++)
                    if (s_.planes[i][r][c] != ref.planes[i][r][c])
                        return ::testing::AssertionFailure()
                            << "plane " << i << " differs at " << r << "," << c << ": "
                            << s_.planes[i][r][c] << " != " << ref.planes[i][r][c];
        return ::testing::AssertionSuccess();
    }

private:
    OnePassParams params_;
    BitSource src_;
    DecodeSession s_{};
};

// Decodes the whole stream and checks the picture and that every bit was read.
void expectFullDecode(const OnePassParams& params)
{
    OnePassStream stream = buildOnePassStream(params);
    OnePassReference ref(params, true);
    DriverRun run(params, stream.bytes);
    ASSERT_EQ(run.run(), 1);
    EXPECT_EQ(run.session().status, 0);
    EXPECT_EQ(run.session().bits->endOfData, 0u);
    EXPECT_EQ(run.source().consumed(), stream.totalBits);
    EXPECT_TRUE(run.matches(ref));
}

TEST(OnePassDriver, DecodesGreyAndColourStreams)
{
    OnePassParams grey;
    expectFullDecode(grey);
    grey.valueCoder = 2;
    grey.exactSteps = 1;
    expectFullDecode(grey);

    OnePassParams colour;
    colour.components = 3;
    colour.height = 37;
    colour.width = 50;
    colour.mapLevel[1] = 1;
    colour.valueCoder = 2;
    expectFullDecode(colour);
}

TEST(OnePassDriver, MapLevelLimitsTheDetailOfItsComponent)
{
    // 66 x 66 has four levels; a map level of 2 gives detail at levels 3 and 2 only.
    OnePassParams params;
    params.height = params.width = 66;
    params.mapLevel[0] = 2;
    params.density = 5;
    ASSERT_EQ(paramLevels(params), 4);
    expectFullDecode(params);
}

TEST(OnePassDriver, ZeroLevelsReadsTheMapsButNoDetail)
{
    // 8 x 8 has no detail level: the lowest band is the whole picture and
    // each map is just its first run.
    OnePassParams params;
    params.height = params.width = 8;
    params.components = 3;
    ASSERT_EQ(paramLevels(params), 0);
    expectFullDecode(params);
}

TEST(OnePassDriver, SharpensComponentZeroOnly)
{
    OnePassParams params;
    params.components = 3;
    params.sharpen = 1;
    expectFullDecode(params);
    params.components = 1;
    params.height = 45;
    expectFullDecode(params);
}

TEST(OnePassDriver, LowMemoryModeWritesLevelZeroIntoThePixels)
{
    OnePassParams params;
    params.halfSize = 1;
    params.density = 4;
    expectFullDecode(params);
    // A map level above 0 skips the level-0 detail.
    params.mapLevel[0] = 1;
    expectFullDecode(params);

    OnePassParams colour;
    colour.components = 3;
    colour.halfSize = 1;
    colour.sharpen = 1;
    colour.mapLevel[1] = 1;
    colour.height = 42;
    expectFullDecode(colour);
}

TEST(OnePassDriver, MapCoderThreeCodesNoPositionButReadsThePreambles)
{
    OnePassParams params;
    params.mapCoder = 3;
    params.components = 3;
    OnePassStream stream = buildOnePassStream(params);
    OnePassReference ref(params, false);
    DriverRun run(params, stream.bytes);
    ASSERT_EQ(run.run(), 1);
    // Three map levels and a 5-bit width per component and level.
    EXPECT_EQ(run.source().consumed(), stream.lowestEnd + 3 + 3 * 3 * 5);
    EXPECT_TRUE(run.matches(ref));
}

TEST(OnePassDriver, AStreamEndingInTheMapsStillGivesAWholePicture)
{
    OnePassParams grey;
    OnePassParams colour;
    colour.components = 3;
    colour.halfSize = 1;
    colour.sharpen = 1;
    for (const OnePassParams& params : {grey, colour}) {
        OnePassStream stream = buildOnePassStream(params);
        OnePassReference smooth(params, false);
        ASSERT_LT(stream.lowestEnd / 8 + 1, stream.mapsEnd / 8);
        for (int64_t cut = stream.lowestEnd / 8 + 1; cut <= stream.mapsEnd / 8; cut++) {
            std::vector<uint8_t> data(stream.bytes.begin(), stream.bytes.begin() + cut);
            DriverRun run(params, data);
            ASSERT_EQ(run.run(), 1);
            EXPECT_EQ(run.session().status, 0);
            EXPECT_EQ(run.session().bits->endOfData, 1u);
            EXPECT_TRUE(run.matches(smooth)) << "cut at byte " << cut;
        }
    }
}

TEST(OnePassDriver, AMapLevelFarAboveLevelsDecodesNoDetail)
{
    OnePassParams params;
    OnePassReference smooth(params, false);
    for (int32_t firstRun : {0, 3}) {
        BitSink sink;
        writeLowestBands(sink, params);
        for (int32_t i = 0; i < 5000; i++)
            sink.bit(1);
        sink.bit(0);
        AdaptiveHuffmanTree tree;
        ASSERT_EQ(initHuffmanTree(&tree, 256, 0), 1);
        encodeHuffmanValue(sink.writer(), &tree, firstRun);
        freeHuffmanTree(&tree);
        const int64_t total = sink.bitCount();
        std::vector<uint8_t> data = sink.finish();
        DriverRun run(params, data);
        ASSERT_EQ(run.run(), 1);
        EXPECT_EQ(run.session().status, 0);
        // A nonzero first run is a map that does not come out even.
        EXPECT_EQ(run.session().bits->endOfData, firstRun ? 1u : 0u);
        if (!firstRun) {
            EXPECT_EQ(run.source().consumed(), total);
        }
        EXPECT_TRUE(run.matches(smooth));
    }
}

TEST(OnePassDriver, AllocationFailuresEndWithStatus8)
{
    OnePassParams params;
    params.height = params.width = 16;
    OnePassStream stream = buildOnePassStream(params);
    size_t limit = allocLimit();
    // 512 bytes: the maps fit, the run tree does not; 64: not even a map.
    for (size_t cap : {size_t(512), size_t(64)}) {
        DriverRun run(params, stream.bytes);
        setAllocLimit(cap);
        int32_t result = run.run();
        setAllocLimit(limit);
        EXPECT_EQ(result, 0) << cap;
        EXPECT_EQ(run.session().status, ZR_OUT_OF_MEMORY) << cap;
    }
}

// Whole streams through the decoder's entry point -------------------------

DecodedFrame decodeBytes(const std::vector<uint8_t>& data, bool callback, uint32_t halfSize)
{
    ByteFeed feed{&data};
    DecodeOptions options{};
    options.halfSize = halfSize;
    if (callback) {
        options.byteSource = ByteFeed::fetch;
        options.sourceContext = &feed;
    }
    return decodeToPixels(data, data.size(), options);
}

TEST(OnePassDecode, WholeStreamRendersTheReferencePicture)
{
    OnePassParams params;
    params.header = true;
    params.components = 3;
    params.mapLevel[2] = 1;
    OnePassStream stream = buildOnePassStream(params);
    OnePassReference ref(params, true);
    std::vector<uint8_t> expected(static_cast<size_t>(params.height) * params.width * 3);
    ASSERT_NE(renderPlanes(ref.planes, expected.data(), params.height, params.width, 8, 3, 0, 0), nullptr);
    DecodedFrame d = decodeBytes(stream.bytes, false, 0);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.pixels, expected);
}

TEST(OnePassDecode, EveryCutOfAStreamDecodesToTheSamePictureTwice)
{
    OnePassParams params;
    params.header = true;
    params.height = 27;
    params.width = 30;
    params.valueCoder = 2;
    params.density = 5;
    OnePassStream stream = buildOnePassStream(params);
    for (uint32_t halfSize : {0u, 1u}) {
        for (size_t cut = stream.headerEnd / 8 + 1; cut <= stream.bytes.size(); cut++) {
            std::vector<uint8_t> data(stream.bytes.begin(), stream.bytes.begin() + cut);
            for (bool callback : {false, true}) {
                DecodedFrame first = decodeBytes(data, callback, halfSize);
                DecodedFrame second = decodeBytes(data, callback, halfSize);
                ASSERT_EQ(first.status, 0) << "cut " << cut;
                ASSERT_EQ(first.pixels.size(), static_cast<size_t>(27 * 30));
                ASSERT_EQ(first.pixels, second.pixels) << "cut " << cut << " callback " << callback;
            }
            // A source whose last byte is all ones repeats it after the end:
            // unary fields must still stop.
            data.back() = 0xFF;
            DecodedFrame ones = decodeBytes(data, true, halfSize);
            ASSERT_EQ(ones.status, 0) << "cut " << cut;
        }
    }
}

} // namespace
