#include "codec/recon/lowest_band.h"

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Most-significant-bit-first packing of (width, value) fields.
std::vector<uint8_t> pack(const std::vector<std::pair<int, uint32_t>>& fields)
{
    BitSink sink;
    for (auto [n, value] : fields)
        sink.bits(n, value);
    return sink.finish();
}

struct TestPlane {
    Plane plane;
    TestPlane(int32_t r, int32_t c) : plane(makePlane(r, c)) {}
    ~TestPlane() { freePlane(plane); }
};

TEST(ReadLowestBand, StoresStepCentresWithADeadZoneForChroma)
{
    // 40 x 40 at 2 levels: an 11 x 11 band.
    const int32_t R = levelSize(40, 2);
    ASSERT_EQ(R, 11);
    const uint32_t q = 3, Q = 32 * q;
    std::vector<uint32_t> samples(R * R);
    for (size_t i = 0; i < samples.size(); i++)
        samples[i] = 100 + static_cast<uint32_t>(i % 7) - 3; // d = -3 .. 3 around base 100
    for (int32_t component = 0; component < 3; component++) {
        std::vector<std::pair<int, uint32_t>> fields = {{5, 9}, {9, 100}};
        for (uint32_t s : samples)
            fields.push_back({9, s});
        std::vector<uint8_t> data = pack(fields);
        BitSource in(data);
        TestPlane p(40, 40);
        p.plane[R][0] = p.plane[0][R] = 12345;
        const int32_t mean = readLowestBand(in.reader(), p.plane, 40, 40, component, 2, q);
        int64_t sum = 0;
        for (int32_t r = 0; r < R; r++)
            for (int32_t c = 0; c < R; c++) {
                const int32_t d = static_cast<int32_t>(samples[r * R + c]) - 100;
                const int32_t want = d > 0   ? static_cast<int32_t>(Q) * (2 * d + 1)
                                     : d < 0 ? -static_cast<int32_t>(Q) * (-2 * d + 1)
                                     : component == 0 ? static_cast<int32_t>(Q) : 0;
                ASSERT_EQ(p.plane[r][c], want) << component << " at " << r << "," << c;
                sum += want;
            }
        EXPECT_EQ(p.plane[R][0], 12345);
        EXPECT_EQ(p.plane[0][R], 12345);
        const int32_t quotient = static_cast<int32_t>(sum / (R * R));
        EXPECT_EQ(mean, (quotient + 2) >> 7) << component;
    }
}

TEST(ReadLowestBand, BitWidthZeroReadsNothingMore)
{
    // Only the 5-bit width; the reader stays inside the first byte.
    for (int32_t component = 0; component < 3; component++) {
        std::vector<uint8_t> data = pack({{5, 0}, {3, 5}});
        BitSource in(data);
        TestPlane p(64, 64);
        const int32_t mean = readLowestBand(in.reader(), p.plane, 64, 64, component, 3, 100);
        const int32_t R = levelSize(64, 3);
        for (int32_t r = 0; r < R; r++)
            for (int32_t c = 0; c < R; c++)
                ASSERT_EQ(p.plane[r][c], component == 0 ? 3200 : 0);
        EXPECT_EQ(mean, component == 0 ? (3200 + 4) >> 8 : 0);
        EXPECT_EQ(readBits(in.reader(), 3), 5u);
        EXPECT_EQ(in.reader()->endOfData, 0u);
    }
}

// Mean of a 10 x 10 picture's 4 x 4 band at level 2 (shift 7, rounding 2)
// whose samples are all base + d except the first, base + first.
int32_t meanOf(int32_t component, int32_t d, int32_t first)
{
    const uint32_t base = 64;
    std::vector<std::pair<int, uint32_t>> fields = {{5, 8}, {8, base}};
    for (int32_t i = 0; i < 16; i++)
        fields.push_back({8, base + static_cast<uint32_t>(i == 0 ? first : d)});
    std::vector<uint8_t> data = pack(fields);
    BitSource in(data);
    TestPlane p(10, 10);
    return readLowestBand(in.reader(), p.plane, 10, 10, component, 2, 1);
}

TEST(ReadLowestBand, RoundingOfTheMean)
{
    // Quotient 124 (below 128 - 2) gives 0, 128 gives 1.
    EXPECT_EQ(meanOf(0, 0, 23), 0); // (15 x 32 + 47 x 32) / 16 = 124
    EXPECT_EQ(meanOf(0, 0, 24), 1); // (15 x 32 + 49 x 32) / 16 = 128
    // Negative means shift arithmetically: -96 gives (-94) >> 7 = -1.
    EXPECT_EQ(meanOf(1, -1, -1), -1);
    // Chroma dead zone: one -96 among zeros, quotient -6, (-6 + 2) >> 7 = -1.
    EXPECT_EQ(meanOf(1, 0, -1), -1);
    EXPECT_EQ(meanOf(1, 0, 0), 0);
}

TEST(ReadLowestBand, LevelZeroBandIsThePictureAndRoundsWithZero)
{
    // 9 x 10 picture at 0 levels: every sample is read; the mean is the
    // plain floor of quotient / 32.
    std::vector<std::pair<int, uint32_t>> fields = {{5, 4}, {4, 0}};
    for (int32_t i = 0; i < 90; i++)
        fields.push_back({4, i == 0 ? 1u : 0u}); // one d = 1 (3 Q), the rest Q
    std::vector<uint8_t> data = pack(fields);
    BitSource in(data);
    TestPlane p(9, 10);
    const int32_t mean = readLowestBand(in.reader(), p.plane, 9, 10, 0, 0, 1);
    EXPECT_EQ(p.plane[0][0], 96);
    EXPECT_EQ(p.plane[8][9], 32);
    EXPECT_EQ(mean, ((96 + 89 * 32) / 90) >> 5); // 32 >> 5 = 1, no half-step rounding
}

TEST(ReadLowestBand, StreamEndingInsideTheBand)
{
    // Width 8, base 10, then only three samples before the data ends: the
    // rest read as s = 0, that is d = -10.
    std::vector<uint8_t> data = pack({{5, 8}, {8, 10}, {8, 11}, {8, 12}, {8, 10}});
    BitSource in(data);
    TestPlane p(16, 16);
    readLowestBand(in.reader(), p.plane, 16, 16, 1, 1, 1);
    EXPECT_EQ(p.plane[0][0], 32 * 3);
    EXPECT_EQ(p.plane[0][1], 32 * 5);
    EXPECT_EQ(p.plane[0][2], 0);
    EXPECT_EQ(p.plane[0][3], -32 * 21);
    EXPECT_EQ(p.plane[8][8], -32 * 21);
    EXPECT_EQ(in.reader()->endOfData, 1u);
}

} // namespace

namespace {

TEST(ReadLowestBand, WideFieldsWrapAs32BitValues)
{
    // Width 31, base 2^30 - 1: d = +-(2^30 - 1) gives Q x (2^31 - 1), which
    // wraps to -Q for the positive difference and, negated, +Q for the other.
    std::vector<std::pair<int, uint32_t>> fields = {{5, 31}, {31, 0x3fffffffu}};
    const int32_t R = levelSize(10, 1); // 6 x 6
    for (int32_t i = 0; i < R * R; i++)
        fields.push_back({31, i % 2 ? 0x7ffffffeu : 0u});
    std::vector<uint8_t> data = pack(fields);
    BitSource in(data);
    TestPlane p(10, 10);
    readLowestBand(in.reader(), p.plane, 10, 10, 0, 1, 1);
    EXPECT_EQ(p.plane[0][0], 32);
    EXPECT_EQ(p.plane[0][1], -32);
    EXPECT_EQ(in.reader()->endOfData, 0u);
}

} // namespace
