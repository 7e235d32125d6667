#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/core/alloc.h"
#include "codec/core/decoder.h"
#include "codec/core/render.h"
#include "codec/core/session.h"
#include "codec/onepass/one_pass_driver.h"
#include "tests/codec/onepass/one_pass_stream.h"
#include "tests/support/decode_to_pixels.h"

namespace {

// A session set up as the stream decode leaves it for the driver, reading
// header-less coded data.
class DriverRun {
public:
    DriverRun(const OnePassSpec& spec, const std::vector<uint8_t>& data) : spec_(spec), src_(data)
    {
        s_.bits = src_.reader();
        s_.height = spec.height;
        s_.width = spec.width;
        s_.components = spec.components;
        s_.bitsPerSample = 8;
        s_.levels = specLevels(spec);
        s_.quantStep = spec.quantStep;
        s_.mapCoder = spec.mapCoder;
        s_.valueCoder = spec.valueCoder;
        s_.sharpen = spec.sharpen;
        s_.exactSteps = spec.exactSteps;
        s_.halfSize = spec.halfSize;
        s_.phase = PHASE_ONE_PASS;
        s_.planes = spec.halfSize ? makePlanes(spec.height / 2 + 1, spec.width / 2 + 1, spec.components)
                                  : makePlanes(spec.height, spec.width, spec.components);
        s_.pixelPlanes = makePixelArrays(spec.height, spec.width, spec.components);
        // Stale memory that a whole picture must overwrite.
        std::memset(s_.pixelPlanes[0][0], 0xA5, pixelBytes());
    }
    ~DriverRun()
    {
        freePlanes(s_.planes, spec_.components);
        freePixelArrays(s_.pixelPlanes, spec_.components);
    }
    int32_t run() { return decodeOnePass(&s_); }
    DecodeSession& session() { return s_; }
    BitSource& source() { return src_; }
    size_t pixelBytes() const { return static_cast<size_t>(spec_.height) * spec_.width * spec_.components; }

    // The decoded picture equals the reference: planes, or pixels in low-memory mode.
    ::testing::AssertionResult matches(const OnePassReference& ref) const
    {
        if (spec_.halfSize) {
            if (std::memcmp(s_.pixelPlanes[0][0], ref.pixels[0][0], pixelBytes()) != 0)
                return ::testing::AssertionFailure() << "pixels differ";
            return ::testing::AssertionSuccess();
        }
        for (int32_t i = 0; i < spec_.components; i++)
            for (int32_t r = 0; r < spec_.height; r++)
                for (int32_t c = 0; c < spec_.width; c++)
                    if (s_.planes[i][r][c] != ref.planes[i][r][c])
                        return ::testing::AssertionFailure()
                            << "plane " << i << " differs at " << r << "," << c << ": "
                            << s_.planes[i][r][c] << " != " << ref.planes[i][r][c];
        return ::testing::AssertionSuccess();
    }

private:
    OnePassSpec spec_;
    BitSource src_;
    DecodeSession s_{};
};

// Decodes the whole stream and checks the picture and that every bit was read.
void expectFullDecode(const OnePassSpec& spec)
{
    OnePassStream stream = buildOnePassStream(spec);
    OnePassReference ref(spec, true);
    DriverRun run(spec, stream.bytes);
    ASSERT_EQ(run.run(), 1);
    EXPECT_EQ(run.session().status, 0);
    EXPECT_EQ(run.session().bits->endOfData, 0u);
    EXPECT_EQ(run.source().consumed(), stream.totalBits);
    EXPECT_TRUE(run.matches(ref));
}

TEST(OnePassDriver, DecodesGreyAndColourStreams)
{
    OnePassSpec grey;
    expectFullDecode(grey);
    grey.valueCoder = 2;
    grey.exactSteps = 1;
    expectFullDecode(grey);

    OnePassSpec colour;
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
    OnePassSpec spec;
    spec.height = spec.width = 66;
    spec.mapLevel[0] = 2;
    spec.density = 5;
    ASSERT_EQ(specLevels(spec), 4);
    expectFullDecode(spec);
}

TEST(OnePassDriver, ZeroLevelsReadsTheMapsButNoDetail)
{
    // 8 x 8 has no detail level: the lowest band is the whole picture and
    // each map is just its first run.
    OnePassSpec spec;
    spec.height = spec.width = 8;
    spec.components = 3;
    ASSERT_EQ(specLevels(spec), 0);
    expectFullDecode(spec);
}

TEST(OnePassDriver, SharpensComponentZeroOnly)
{
    OnePassSpec spec;
    spec.components = 3;
    spec.sharpen = 1;
    expectFullDecode(spec);
    spec.components = 1;
    spec.height = 45;
    expectFullDecode(spec);
}

TEST(OnePassDriver, LowMemoryModeWritesLevelZeroIntoThePixels)
{
    OnePassSpec spec;
    spec.halfSize = 1;
    spec.density = 4;
    expectFullDecode(spec);
    // A map level above 0 skips the level-0 detail.
    spec.mapLevel[0] = 1;
    expectFullDecode(spec);

    OnePassSpec colour;
    colour.components = 3;
    colour.halfSize = 1;
    colour.sharpen = 1;
    colour.mapLevel[1] = 1;
    colour.height = 42;
    expectFullDecode(colour);
}

TEST(OnePassDriver, MapCoderThreeCodesNoPositionButReadsThePreambles)
{
    OnePassSpec spec;
    spec.mapCoder = 3;
    spec.components = 3;
    OnePassStream stream = buildOnePassStream(spec);
    OnePassReference ref(spec, false);
    DriverRun run(spec, stream.bytes);
    ASSERT_EQ(run.run(), 1);
    // Three map levels and a 5-bit width per component and level.
    EXPECT_EQ(run.source().consumed(), stream.lowestEnd + 3 + 3 * 3 * 5);
    EXPECT_TRUE(run.matches(ref));
}

TEST(OnePassDriver, AStreamEndingInTheMapsStillGivesAWholePicture)
{
    OnePassSpec grey;
    OnePassSpec colour;
    colour.components = 3;
    colour.halfSize = 1;
    colour.sharpen = 1;
    for (const OnePassSpec& spec : {grey, colour}) {
        OnePassStream stream = buildOnePassStream(spec);
        OnePassReference smooth(spec, false);
        ASSERT_LT(stream.lowestEnd / 8 + 1, stream.mapsEnd / 8);
        for (int64_t cut = stream.lowestEnd / 8 + 1; cut <= stream.mapsEnd / 8; cut++) {
            std::vector<uint8_t> data(stream.bytes.begin(), stream.bytes.begin() + cut);
            DriverRun run(spec, data);
            ASSERT_EQ(run.run(), 1);
            EXPECT_EQ(run.session().status, 0);
            EXPECT_EQ(run.session().bits->endOfData, 1u);
            EXPECT_TRUE(run.matches(smooth)) << "cut at byte " << cut;
        }
    }
}

TEST(OnePassDriver, AMapLevelFarAboveLevelsDecodesNoDetail)
{
    OnePassSpec spec;
    OnePassReference smooth(spec, false);
    for (int32_t firstRun : {0, 3}) {
        BitSink sink;
        writeLowestBands(sink, spec);
        for (int32_t i = 0; i < 5000; i++)
            sink.bit(1);
        sink.bit(0);
        AdaptiveHuffmanTree tree;
        ASSERT_EQ(initHuffmanTree(&tree, 256, 0), 1);
        encodeHuffmanValue(sink.writer(), &tree, firstRun);
        freeHuffmanTree(&tree);
        const int64_t total = sink.bitCount();
        std::vector<uint8_t> data = sink.finish();
        DriverRun run(spec, data);
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
    OnePassSpec spec;
    spec.height = spec.width = 16;
    OnePassStream stream = buildOnePassStream(spec);
    size_t limit = allocLimit();
    // 512 bytes: the maps fit, the run tree does not; 64: not even a map.
    for (size_t cap : {size_t(512), size_t(64)}) {
        DriverRun run(spec, stream.bytes);
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
    OnePassSpec spec;
    spec.header = true;
    spec.components = 3;
    spec.mapLevel[2] = 1;
    OnePassStream stream = buildOnePassStream(spec);
    OnePassReference ref(spec, true);
    std::vector<uint8_t> expected(static_cast<size_t>(spec.height) * spec.width * 3);
    ASSERT_NE(renderPlanes(ref.planes, expected.data(), spec.height, spec.width, 8, 3, 0, 0), nullptr);
    DecodedFrame d = decodeBytes(stream.bytes, false, 0);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.pixels, expected);
}

TEST(OnePassDecode, EveryCutOfAStreamDecodesToTheSamePictureTwice)
{
    OnePassSpec spec;
    spec.header = true;
    spec.height = 27;
    spec.width = 30;
    spec.valueCoder = 2;
    spec.density = 5;
    OnePassStream stream = buildOnePassStream(spec);
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
