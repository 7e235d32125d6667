// readBits takes whole groups of bits from the current byte: it must read as
// the bit-by-bit loop does, in both modes and across the end of the data.
#include "codec/core/bit_reader.h"

#include <gtest/gtest.h>

#include <random>
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

struct Source {
    const std::vector<uint8_t>* bytes;
    size_t next = 0;
};

int32_t nextByte(void* context, uint32_t* slot)
{
    Source* source = static_cast<Source*>(context);
    if (source->next >= source->bytes->size())
        return 1;
    *slot = (*source->bytes)[source->next++];
    return 0;
}

BitReader* memoryReader(const std::vector<uint8_t>& bytes)
{
    BitReader* reader = createBitReader(0);
    reader->buffer = const_cast<uint8_t*>(bytes.data());
    resetBitReader(reader);
    reader->byteCount = static_cast<int32_t>(bytes.size());
    return reader;
}

BitReader* callbackReader(Source* source)
{
    BitReader* reader = createBitReader(0);
    attachByteSource(reader, nextByte, source);
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

} // namespace

TEST(BitReaderGroups, RandomWidthsReadAsSingleBits)
{
    std::mt19937 random(8);
    for (int trial = 0; trial < 200; trial++) {
        std::vector<uint8_t> bytes(random() % 40);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        const bool callback = trial % 2 == 1;
        Source sources[2] = {{&bytes}, {&bytes}};
        BitReader* grouped = callback ? callbackReader(&sources[0]) : memoryReader(bytes);
        BitReader* single = callback ? callbackReader(&sources[1]) : memoryReader(bytes);
        // Past the end: memory readers keep failing, callback readers repeat
        // their last byte after the one failed fetch.
        for (int read = 0; read < 120; read++) {
            const int n = static_cast<int>(random() % 32);
            ASSERT_EQ(readBits(grouped, n), bitByBit(single, n)) << "trial " << trial << " read " << read;
            expectSameState(grouped, single);
            if (read % 5 == 0) {
                ASSERT_EQ(readBit(grouped), readBit(single));
            }
        }
        releaseBitReader(grouped);
        releaseBitReader(single);
    }
}

// readBitRun must be n plain readBit calls, also where a fetch fails.
TEST(BitReaderGroups, BitRunsReadAsSingleBitsAcrossTheEnd)
{
    std::mt19937 random(15);
    for (int trial = 0; trial < 200; trial++) {
        std::vector<uint8_t> bytes(random() % 24);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        const bool callback = trial % 2 == 1;
        Source sources[2] = {{&bytes}, {&bytes}};
        BitReader* grouped = callback ? callbackReader(&sources[0]) : memoryReader(bytes);
        BitReader* single = callback ? callbackReader(&sources[1]) : memoryReader(bytes);
        for (int read = 0; read < 80; read++) {
            const int n = static_cast<int>(random() % 17);
            uint32_t expected = 0;
            for (int i = 0; i < n; i++)
                expected = (expected << 1) | readBit(single);
            ASSERT_EQ(readBitRun(grouped, n), expected) << "trial " << trial << " read " << read;
            expectSameState(grouped, single);
        }
        releaseBitReader(grouped);
        releaseBitReader(single);
    }
}
