// Bytes fetched ahead (a block source's blocks, the rest of a memory block)
// must read exactly as the same bytes fetched one at a time.
#include "codec/core/bit_reader.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Hands out the data in blocks of random length; counts its calls.
struct BlockFeed {
    const std::vector<uint8_t>* data;
    std::mt19937* random;
    uint32_t longest;
    size_t next = 0;
    int calls = 0;

    static int32_t fetch(void* context, const uint8_t** bytes)
    {
        BlockFeed* feed = static_cast<BlockFeed*>(context);
        feed->calls++;
        const size_t left = feed->data->size() - feed->next;
        if (left == 0)
            return 0;
        size_t n = 1 + (*feed->random)() % feed->longest;
        n = n < left ? n : left;
        *bytes = feed->data->data() + feed->next;
        feed->next += n;
        return static_cast<int32_t>(n);
    }
};

void expectSameState(const BitReader* a, const BitReader* b)
{
    ASSERT_EQ(a->mask, b->mask);
    ASSERT_EQ(a->currentByte, b->currentByte);
    ASSERT_EQ(a->cursor - reinterpret_cast<uintptr_t>(a->buffer), b->cursor - reinterpret_cast<uintptr_t>(b->buffer));
    ASSERT_EQ(a->endOfData, b->endOfData);
}

// One random read of each kind, now and then ending the data from outside
// the way the decoders do: by the flag alone, or with endReaderData.
uint32_t randomRead(BitReader* reader, uint32_t choice, int n)
{
    switch (choice % 12) {
    case 0: return readBit(reader);
    case 1: case 2: case 3: return readBits(reader, n);
    case 4: case 5: case 6: return readBitRun(reader, n < 31 ? n : 30);
    case 7: case 8: return static_cast<uint32_t>(readUnary(reader));
    case 9: return fetchReaderByte(reader) ? reader->currentByte : 999u;
    case 10:
        if (n == 0)
            reader->endOfData = 1;
        return 0;
    default:
        if (n == 1)
            endReaderData(reader);
        return 0;
    }
}

} // namespace

TEST(BitReaderBlocks, BlockSourceReadsAsAByteSourceAcrossTheEnd)
{
    std::mt19937 random(41);
    for (int trial = 0; trial < 400; trial++) {
        std::vector<uint8_t> bytes(random() % 48);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(trial % 3 == 0 ? random() | random() : random());
        ByteFeed single{&bytes};
        BlockFeed blocks{&bytes, &random, trial % 4 == 0 ? 1u : 1u + static_cast<uint32_t>(random() % 40)};
        BitReader* expected = createBitReader(0);
        BitReader* reader = createBitReader(0);
        attachByteSource(expected, ByteFeed::fetch, &single);
        attachBlockSource(reader, BlockFeed::fetch, &blocks);
        resetBitReader(expected);
        resetBitReader(reader);
        for (int step = 0; step < 60; step++) {
            const uint32_t choice = random();
            const int n = static_cast<int>(random() % 32);
            ASSERT_EQ(randomRead(reader, choice, n), randomRead(expected, choice, n))
                << "trial " << trial << " step " << step;
            expectSameState(reader, expected);
            if (testing::Test::HasFatalFailure())
                break;
        }
        // Once the data has ended the source is not asked again.
        const int calls = blocks.calls;
        if (reader->endOfData)
            for (int i = 0; i < 3; i++)
                readBits(reader, 9);
        EXPECT_TRUE(!reader->endOfData || blocks.calls == calls);
        releaseBitReader(expected);
        releaseBitReader(reader);
        if (testing::Test::HasFatalFailure())
            return;
    }
}

TEST(BitReaderBlocks, MemoryReaderReadsItsBlockInOrderThenEnds)
{
    std::mt19937 random(5);
    for (int trial = 0; trial < 200; trial++) {
        std::vector<uint8_t> bytes(random() % 40);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        BitReader* reader = createMemoryReader(bytes);
        int64_t position = 0; // bits read
        const int64_t total = static_cast<int64_t>(bytes.size()) * 8;
        while (position < total + 24) {
            const int n = 1 + static_cast<int>(random() % 30);
            const uint32_t got = readBits(reader, n);
            uint32_t want = 0;
            for (int i = 0; i < n; i++) {
                const int64_t bit = position + i;
                want = (want << 1) | (bit < total ? (bytes[bit / 8] >> (7 - bit % 8)) & 1u : 0u);
            }
            // A read crossing the end gives 0.
            ASSERT_EQ(got, position + n <= total ? want : 0u) << "trial " << trial;
            position += n;
            ASSERT_EQ(reader->endOfData, position > total ? 1u : 0u);
        }
        // A reset reader reads its new block from the start, not the old window.
        const std::vector<uint8_t> other = {0xA5, 0x3C};
        reader->buffer = const_cast<uint8_t*>(other.data());
        resetBitReader(reader);
        reader->byteCount = 2;
        EXPECT_EQ(readBits(reader, 16), 0xA53Cu);
        releaseBitReader(reader);
    }
}

TEST(BitReaderBlocks, EndingTheDataDropsTheBytesFetchedAhead)
{
    const std::vector<uint8_t> bytes = {0xFF, 0xFF, 0xFF, 0xFF};
    BitReader* memory = createMemoryReader(bytes);
    EXPECT_EQ(readBits(memory, 8), 0xFFu);
    endReaderData(memory);
    EXPECT_EQ(readBits(memory, 8), 0u);
    EXPECT_EQ(memory->endOfData, 1u);
    releaseBitReader(memory);

    std::mt19937 random(1);
    BlockFeed feed{&bytes, &random, 1000};
    BitReader* reader = createBitReader(0);
    attachBlockSource(reader, BlockFeed::fetch, &feed);
    resetBitReader(reader);
    EXPECT_EQ(readBits(reader, 8), 0xFFu);
    endReaderData(reader);
    EXPECT_EQ(readUnary(reader), 0);
    EXPECT_EQ(feed.calls, 1);
    releaseBitReader(reader);
}
