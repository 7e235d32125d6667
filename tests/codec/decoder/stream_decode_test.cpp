#include "codec/core/alloc.h"
#include "codec/core/array2d.h"
#include "codec/decoder/decoder.h"
#include "codec/core/geometry.h"
#include "codec/session/stream_header.h"
#include "codec/zr.h"
#include "tests/support/alloc_limit.h"
#include "tests/support/stream_header.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

// Runs streamDecode on a session of its own, in memory or callback mode.
struct SessionRun {
    DecodeSession s{};
    std::vector<uint8_t> bytes;
    ByteFeed feed{&bytes};

    SessionRun(std::vector<uint8_t> data, uint32_t halfSize = 0, bool callback = false)
        : bytes(std::move(data))
    {
        if (callback) {
            s.bits = createBitReader(0);
            attachByteSource(s.bits, &ByteFeed::fetch, &feed);
        } else {
            s.bits = createMemoryReader(bytes);
        }
        s.halfSize = halfSize;
        streamDecode(&s);
    }
    ~SessionRun()
    {
        freeChecked(takePixelBlock(s.pixelPlanes, s.components));
        releaseBitReader(s.bits);
    }
};

struct LimitGuard {
    ~LimitGuard() { setAllocLimit(0); }
};

TEST(StreamHeader, ReadsEveryField)
{
    HeaderFields h;
    h.height = 0x1234;
    h.width = 0x0567;
    h.bitsPerSample = 12;
    h.shortStep = false;
    h.quantStep = 0xBEEF;
    h.decodeMode = 1;
    h.mapCoder = 3;
    h.valueCoder = 2;
    h.fineSteps = 3;
    h.contrastStretch = 0;
    h.magnitudeBoost = 9;
    h.trailer = true;
    h.extension1 = 0xA1;
    h.extension2 = 0x5E;
    h.extension3 = 6;
    DecodeSession s{};
    std::vector<uint8_t> bytes = makeHeader(h);
    s.bits = createMemoryReader(bytes);
    EXPECT_EQ(readStreamHeader(&s), 0);
    EXPECT_EQ(s.version, 2);
    EXPECT_EQ(s.height, 0x1234);
    EXPECT_EQ(s.width, 0x0567);
    EXPECT_EQ(s.bitsPerSample, 12);
    EXPECT_EQ(s.components, 1);
    EXPECT_EQ(s.quantStep, 0xBEEFu);
    EXPECT_EQ(s.decodeMode, 1);
    EXPECT_EQ(s.mapCoder, 3);
    EXPECT_EQ(s.valueCoder, 2);
    EXPECT_EQ(s.fineSteps, 3);
    EXPECT_EQ(s.contrastStretch, 0);
    EXPECT_EQ(s.magnitudeBoost, 9);
    EXPECT_EQ(s.extension1, 0xA1u);
    EXPECT_EQ(s.extension2, 0x5Eu);
    EXPECT_EQ(s.extension3, 6u);
    EXPECT_EQ(s.bits->endOfData, 0u);
    EXPECT_EQ(checkStreamHeader(&s), 0);
    EXPECT_EQ(s.levels, levelCount(0x1234, 0x0567));
    releaseBitReader(s.bits);

    HeaderFields c;
    c.colour = true;
    c.quantStep = 200;
    SessionRun colour(makeHeader(c));
    EXPECT_EQ(colour.s.components, 3);
    EXPECT_EQ(colour.s.quantStep, 200u);
    EXPECT_EQ(colour.s.extension1, 0u);
    EXPECT_EQ(colour.s.status, 0);
}

TEST(StreamHeader, BadMagicStopsReading)
{
    SessionRun empty({});
    EXPECT_EQ(empty.s.status, 1);
    EXPECT_EQ(empty.s.planes, nullptr);
    EXPECT_EQ(empty.s.pixelPlanes, nullptr);

    HeaderFields h;
    h.magic0 = 'Y';
    SessionRun first(makeHeader(h), 0, true);
    EXPECT_EQ(first.s.status, 1);
    EXPECT_EQ(first.feed.next, 1u);
    EXPECT_EQ(first.s.height, 0);

    h.magic0 = 'Z';
    h.magic1 = 'X';
    SessionRun second(makeHeader(h), 0, true);
    EXPECT_EQ(second.s.status, 1);
    EXPECT_EQ(second.feed.next, 2u);
}

TEST(StreamHeader, BadVersionAfterTheWholeHeader)
{
    HeaderFields h;
    h.version = 1;
    h.height = 300;
    h.trailer = true;
    std::vector<uint8_t> bytes = makeHeader(h);
    bytes.push_back(0x55); // coded data that must not be touched
    SessionRun run(bytes, 0, true);
    EXPECT_EQ(run.s.status, 2);
    EXPECT_EQ(run.s.version, 1);
    EXPECT_EQ(run.s.height, 300);
    EXPECT_EQ(run.feed.next, bytes.size() - 1);
    EXPECT_EQ(run.s.planes, nullptr);
    EXPECT_EQ(run.s.pixelPlanes, nullptr);
}

TEST(StreamHeader, SampleDepthRules)
{
    struct Case {
        bool colour;
        uint32_t bits;
        int32_t status;
    } cases[] = {
        {true, 8, 0}, {true, 10, 16}, {true, 16, 16}, {true, 7, 16},
        {false, 8, 0}, {false, 12, 0}, {false, 16, 0}, {false, 17, 16}, {false, 7, 16}, {false, 0, 16}, {false, 31, 16},
    };
    for (const Case& c : cases) {
        HeaderFields h;
        h.colour = c.colour;
        h.bitsPerSample = c.bits;
        SessionRun run(makeHeader(h));
        EXPECT_EQ(run.s.status, c.status) << (c.colour ? "colour " : "grey ") << c.bits;
        if (c.status != 0) {
            EXPECT_EQ(run.s.pixelPlanes, nullptr);
        }
    }
}

TEST(StreamHeader, CoderCombinations)
{
    struct Case {
        uint32_t mode, mapCoder, valueCoder;
        int32_t status;
    } cases[] = {
        {2, 0, 1, 3}, {3, 0, 1, 3}, {1, 2, 0, 3},
        {0, 2, 0, 0}, {1, 2, 1, 0}, {1, 3, 0, 0}, {0, 3, 3, 0}, {1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        HeaderFields h;
        h.decodeMode = c.mode;
        h.mapCoder = c.mapCoder;
        h.valueCoder = c.valueCoder;
        SessionRun run(makeHeader(h));
        EXPECT_EQ(run.s.status, c.status) << c.mode << "/" << c.mapCoder << "/" << c.valueCoder;
    }
}

TEST(StreamHeader, TinyPicturesAreRefusedBeforeAllocation)
{
    LimitGuard guard;
    // One plane of 5 x 60000 would not fit under this limit: a refusal after
    // allocating would report 8.
    setAllocLimit(64 * 1024);
    HeaderFields h;
    h.height = 5;
    h.width = 60000;
    SessionRun run(makeHeader(h));
    EXPECT_EQ(run.s.status, 3);
    EXPECT_EQ(run.s.levels, -1);
    EXPECT_EQ(run.s.pixelPlanes, nullptr);

    h.height = 0;
    h.width = 0;
    SessionRun empty(makeHeader(h));
    EXPECT_EQ(empty.s.status, 3);
}

TEST(StreamHeader, LevelsAndLowMemoryMode)
{
    HeaderFields h;
    h.height = 256;
    h.width = 256;
    SessionRun square(makeHeader(h), 1);
    EXPECT_EQ(square.s.status, 0);
    EXPECT_EQ(square.s.levels, 5);
    EXPECT_EQ(square.s.halfSize, 1u);
    EXPECT_EQ(square.s.phase, PHASE_DONE);
    EXPECT_EQ(square.s.planes, nullptr); // released after the decode

    h.height = 64;
    h.width = 100;
    SessionRun oblong(makeHeader(h), 0);
    EXPECT_EQ(oblong.s.levels, 3);

    // Deep samples, a stretched tone table and level-0 pictures use full-size planes.
    HeaderFields deep;
    deep.bitsPerSample = 12;
    SessionRun deepRun(makeHeader(deep), 1);
    EXPECT_EQ(deepRun.s.status, 0);
    EXPECT_EQ(deepRun.s.halfSize, 0u);

    HeaderFields stretched;
    stretched.contrastStretch = 1;
    SessionRun stretchedRun(makeHeader(stretched), 1);
    EXPECT_EQ(stretchedRun.s.halfSize, 0u);

    HeaderFields small;
    small.height = 6;
    small.width = 9;
    SessionRun smallRun(makeHeader(small), 1);
    EXPECT_EQ(smallRun.s.status, 0);
    EXPECT_EQ(smallRun.s.levels, 0);
    EXPECT_EQ(smallRun.s.halfSize, 0u);
}

// A stream cut after a 0xFF byte inside the unary counts, delivered by a byte
// source that repeats that byte after the end, must not count forever.
TEST(StreamHeader, UnaryCountsStopAtTheEndOfData)
{
    BitSink sink;
    HeaderFields h;
    sink.bits(8, 0x5A).bits(8, 0x52).bits(8, 2);
    sink.bits(16, 64).bits(16, 64).bits(5, 8).bits(1, 0).bits(1, 1).bits(8, 8);
    sink.bits(2, 0).bits(2, 0).bits(2, 1); // 78 bits
    sink.bits(2, 3).bits(8, 0xFF);         // ten 1 bits, then the end
    std::vector<uint8_t> bytes = sink.finish();
    ASSERT_EQ(bytes.size(), 11u);

    for (bool callback : {false, true}) {
        auto start = std::chrono::steady_clock::now();
        SessionRun run(bytes, 0, callback);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(run.s.fineSteps, 10) << callback;
        EXPECT_EQ(run.s.contrastStretch, 0) << callback;
        EXPECT_EQ(run.s.magnitudeBoost, 0) << callback;
        EXPECT_EQ(run.s.bits->endOfData, 1u);
        EXPECT_EQ(run.s.status, 0);
    }
}

TEST(StreamHeader, HugeDeclaredPicturesAreOutOfMemoryQuickly)
{
    HeaderFields h;
    h.colour = true;
    h.height = 65535;
    h.width = 65535;
    ScopedAllocLimit limit(kTestAllocLimit);
    auto start = std::chrono::steady_clock::now();
    SessionRun run(makeHeader(h));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(run.s.status, 8);
    EXPECT_EQ(run.s.planes, nullptr);
    EXPECT_EQ(run.s.pixelPlanes, nullptr);
}

TEST(StreamHeader, LargeLegitimatePicturesFitTheDefaultLimit)
{
    DecodeSession s{};
    s.height = 8192;
    s.width = 8192;
    s.components = 3;
    s.bitsPerSample = 8;
    uint64_t bytes = pictureMemoryBytes(&s);
    EXPECT_GE(bytes, 3ull * 8193 * 8193 * 4 + 8192ull * 8192 * 3);
    EXPECT_LE(bytes, ZR_DEFAULT_MAX_MEMORY);
    s.halfSize = 1;
    EXPECT_LT(pictureMemoryBytes(&s), bytes / 2);
}

} // namespace
