// readBits, readBitRun and readUnary take whole groups of bits from the
// current byte: each must read as the bit-by-bit loop does, in both modes and
// across the end of the data.
#include "codec/core/bit_reader.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace {

// n single-bit reads; 0 for the whole read when a byte cannot be fetched.
uint32_t bitByBit(BitReader* reader, int n)
{
    uint32_t result = 0;
    for (int i = 0; i < n; i++) {
        const bool fetches = reader->mask == 128;
        const uint32_t bit = readBit(reader);
        if (fetches && reader->mask == 128)
            return 0;
        result = (result << 1) | bit;
    }
    return result;
}

BitReader* callbackReader(ByteFeed* feed)
{
    BitReader* reader = createBitReader(0);
    attachByteSource(reader, ByteFeed::fetch, feed);
    resetBitReader(reader);
    return reader;
}

void expectSameState(const BitReader* a, const BitReader* b)
{
    ASSERT_EQ(a->mask, b->mask);
    ASSERT_EQ(a->currentByte, b->currentByte);
    ASSERT_EQ(a->cursor - reinterpret_cast<uintptr_t>(a->buffer), b->cursor - reinterpret_cast<uintptr_t>(b->buffer));
    ASSERT_EQ(a->endOfData, b->endOfData);
}

// 200 trials over random data of up to maxBytes bytes, memory and callback
// mode in turn: `reads` times, read(grouped, single, random) returns what the
// grouped read and its single-bit equivalent gave; both readers must then
// agree in value and state. Past the end memory readers keep failing, and
// callback readers repeat their last byte after the one failed fetch.
template <typename Read>
void expectSameAsSingleBits(uint32_t seed, uint32_t maxBytes, uint32_t oneBias, int reads, Read read)
{
    std::mt19937 random(seed);
    for (int trial = 0; trial < 200; trial++) {
        std::vector<uint8_t> bytes(random() % maxBytes);
        for (uint8_t& b : bytes) {
            uint32_t value = random();
            for (uint32_t i = 0; i < oneBias; i++)
                value |= random();
            b = static_cast<uint8_t>(value);
        }
        const bool callback = trial % 2 == 1;
        ByteFeed feeds[2] = {{&bytes}, {&bytes}};
        BitReader* grouped = callback ? callbackReader(&feeds[0]) : createMemoryReader(bytes);
        BitReader* single = callback ? callbackReader(&feeds[1]) : createMemoryReader(bytes);
        for (int step = 0; step < reads && !testing::Test::HasFatalFailure(); step++) {
            const std::pair<uint32_t, uint32_t> got = read(grouped, single, random);
            ASSERT_EQ(got.first, got.second) << "trial " << trial << " read " << step;
            expectSameState(grouped, single);
        }
        releaseBitReader(grouped);
        releaseBitReader(single);
        if (testing::Test::HasFatalFailure())
            return;
    }
}

} // namespace

TEST(BitReaderGroups, RandomWidthsReadAsSingleBits)
{
    int step = 0;
    expectSameAsSingleBits(8, 40, 0, 120, [&](BitReader* grouped, BitReader* single, std::mt19937& random) {
        // Every fifth read is one bit, mixing single reads into the groups.
        if (step++ % 5 == 4)
            return std::make_pair(readBit(grouped), readBit(single));
        const int n = static_cast<int>(random() % 32);
        return std::make_pair(readBits(grouped, n), bitByBit(single, n));
    });
}

// readBitRun must be n plain readBit calls, also where a fetch fails.
TEST(BitReaderGroups, BitRunsReadAsSingleBitsAcrossTheEnd)
{
    expectSameAsSingleBits(15, 24, 0, 80, [](BitReader* grouped, BitReader* single, std::mt19937& random) {
        const int n = static_cast<int>(random() % 31);
        uint32_t expected = 0;
        for (int i = 0; i < n; i++)
            expected = (expected << 1) | readBit(single);
        return std::make_pair(readBitRun(grouped, n), expected);
    });
}

// readUnary counts ones as the plain loop does, which stops at the end of data:
// a callback source's repeated last byte of ones must not be counted forever.
TEST(BitReaderGroups, UnaryCountsReadAsSingleBitsAndStopAtTheEnd)
{
    expectSameAsSingleBits(23, 24, 2, 60, [](BitReader* grouped, BitReader* single, std::mt19937&) {
        uint32_t expected = 0;
        while ((single->endOfData & 1) == 0 && readBit(single))
            expected++;
        return std::make_pair(static_cast<uint32_t>(readUnary(grouped)), expected);
    });
    std::vector<uint8_t> ones(5, 0xFF);
    ByteFeed feed{&ones};
    BitReader* reader = callbackReader(&feed);
    EXPECT_EQ(readUnary(reader), 40);
    EXPECT_EQ(reader->endOfData, 1u);
    EXPECT_EQ(readUnary(reader), 0);
    releaseBitReader(reader);
}
