#include "codec/core/bit_reader.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A byte source over a vector that counts its calls.
struct CountingSource {
    std::vector<uint8_t> bytes;
    size_t next = 0;
    int calls = 0;
    static int32_t fetch(void* context, uint32_t* slot)
    {
        auto* s = static_cast<CountingSource*>(context);
        s->calls++;
        if (s->next >= s->bytes.size())
            return 1;
        *slot = s->bytes[s->next++];
        return 0;
    }
};

BitReader* callbackReader(CountingSource* source)
{
    BitReader* r = createBitReader(0);
    resetBitReader(r);
    r->byteCount = 12345; // not consulted in callback mode
    attachByteSource(r, &CountingSource::fetch, source);
    return r;
}

TEST(BitReader, MemoryBlockYieldsExactlyItsBitsThenEnds)
{
    std::vector<uint8_t> data{0xA5, 0x3C, 0xFF};
    BitReader* r = createMemoryReader(data);
    uint32_t ones = 0;
    for (int i = 0; i < 24; i++) {
        ones += readBit(r);
        EXPECT_EQ(r->endOfData, 0u) << "bit " << i;
    }
    EXPECT_EQ(ones, 4u + 4u + 8u);
    EXPECT_EQ(readBit(r), 0u);
    EXPECT_EQ(r->endOfData, 1u);
    // Every later read returns 0 and sets the flag again.
    r->endOfData = 0;
    EXPECT_EQ(readBits(r, 7), 0u);
    EXPECT_EQ(r->endOfData, 1u);
    releaseBitReader(r);
}

TEST(BitReader, MultiBitValuesAreMostSignificantFirst)
{
    std::vector<uint8_t> data{0x01, 0x02, 0xA5, 0x01, 0x02};
    BitReader* r = createMemoryReader(data);
    EXPECT_EQ(readBits(r, 16), 258u);
    EXPECT_EQ(readBits(r, 3), 5u);
    EXPECT_EQ(readBits(r, 5), 5u);
    uint32_t high = readBits(r, 8);
    EXPECT_EQ(high * 256 + readBits(r, 8), 258u);
    releaseBitReader(r);
}

TEST(BitReader, WideReadsAcrossBytes)
{
    std::vector<uint8_t> data{0xFF, 0xFF, 0xFF, 0xFF, 0x80};
    BitReader* r = createMemoryReader(data);
    EXPECT_EQ(readBits(r, 1), 1u);
    EXPECT_EQ(readBits(r, 31), 0x7FFFFFFFu);
    EXPECT_EQ(readBits(r, 1), 1u);
    EXPECT_EQ(readBits(r, 7), 0u);
    EXPECT_EQ(r->endOfData, 0u);
    releaseBitReader(r);
}

TEST(BitReader, ZeroBitReadConsumesNothing)
{
    std::vector<uint8_t> data{0xC0};
    BitReader* r = createMemoryReader(data);
    uintptr_t cursor = r->cursor;
    EXPECT_EQ(readBits(r, 0), 0u);
    EXPECT_EQ(r->cursor, cursor);
    EXPECT_EQ(r->mask, 128);
    EXPECT_EQ(readBits(r, 2), 3u);
    EXPECT_EQ(readBits(r, 6), 0u);
    // The data is used up but the end has not been met: a 0-bit read must not meet it.
    cursor = r->cursor;
    EXPECT_EQ(readBits(r, 0), 0u);
    EXPECT_EQ(r->endOfData, 0u);
    EXPECT_EQ(r->cursor, cursor);
    EXPECT_EQ(readBits(r, 1), 0u);
    EXPECT_EQ(r->endOfData, 1u);
    EXPECT_EQ(readBits(r, 0), 0u);
    EXPECT_EQ(r->endOfData, 1u);
    releaseBitReader(r);
}

TEST(BitReader, ReadCrossingTheEndReturnsZeroNotThePartialValue)
{
    std::vector<uint8_t> data{0xFF};
    BitReader* r = createMemoryReader(data);
    EXPECT_EQ(readBits(r, 4), 15u);
    EXPECT_EQ(readBits(r, 8), 0u);
    EXPECT_EQ(r->endOfData, 1u);

    CountingSource source{{0xFF}};
    BitReader* c = callbackReader(&source);
    EXPECT_EQ(readBits(c, 4), 15u);
    EXPECT_EQ(readBits(c, 8), 0u);
    EXPECT_EQ(c->endOfData, 1u);
    releaseBitReader(r);
    releaseBitReader(c);
}

TEST(BitReader, CallbackModeCountsRequestsAndStopsCallingAfterTheEnd)
{
    CountingSource source{{0x01, 0x02, 0xA5}};
    BitReader* r = callbackReader(&source);
    EXPECT_EQ(r->buffer, reinterpret_cast<uint8_t*>(&source));
    EXPECT_EQ(r->cursor, 0u);
    EXPECT_EQ(readBits(r, 16), 258u);
    EXPECT_EQ(r->cursor, 2u);
    EXPECT_EQ(source.calls, 2);
    EXPECT_EQ(readBits(r, 0), 0u);
    EXPECT_EQ(source.calls, 2);
    EXPECT_EQ(readBits(r, 8), 0xA5u);
    EXPECT_EQ(readBit(r), 0u); // meets the end
    EXPECT_EQ(r->endOfData, 1u);
    EXPECT_EQ(source.calls, 4);
    EXPECT_EQ(r->cursor, 4u);
    // Later reads repeat the last byte's bits without calling the source.
    EXPECT_EQ(readBits(r, 8), 0xA5u);
    EXPECT_EQ(readBits(r, 8), 0xA5u);
    EXPECT_EQ(readBit(r), 1u);
    EXPECT_EQ(source.calls, 4);
    EXPECT_EQ(r->cursor, 7u);
    EXPECT_EQ(r->endOfData, 1u);
    releaseBitReader(r);
}

TEST(BitReader, ResetRestartsAMemoryReader)
{
    std::vector<uint8_t> data{0x80};
    BitReader* r = createMemoryReader(data);
    EXPECT_EQ(readBits(r, 8), 0x80u);
    EXPECT_EQ(readBit(r), 0u);
    EXPECT_EQ(r->endOfData, 1u);
    resetBitReader(r);
    EXPECT_EQ(r->byteCount, 0);
    r->byteCount = 1;
    EXPECT_EQ(r->endOfData, 0u);
    EXPECT_EQ(readBit(r), 1u);
    releaseBitReader(r);
}

TEST(BitWriter, MemoryModeRoundTripAndFlush)
{
    BitReader* w = createBitReader(16);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->cursor, reinterpret_cast<uintptr_t>(w->buffer));
    EXPECT_EQ(writeBits(w, 3, 5), 0);
    EXPECT_EQ(writeBits(w, 5, 5), 1);
    writeBits(w, 16, 258);
    writeBits(w, 31, 0x7FFFFFFFu);
    writeBit(w, 1);
    writeBits(w, 0, 0xFFFFFFFFu);
    writeBits(w, 3, 0x6); // partial byte
    EXPECT_EQ(w->byteCount, 7);
    flushBitWriter(w);
    EXPECT_EQ(w->byteCount, 8);
    EXPECT_EQ(w->mask, 128);
    EXPECT_EQ(w->cursor, reinterpret_cast<uintptr_t>(w->buffer));
    EXPECT_EQ(w->buffer[0], 0xA5);
    EXPECT_EQ(w->buffer[7], 0xC0);

    std::vector<uint8_t> data(w->buffer, w->buffer + 8);
    BitReader* r = createMemoryReader(data);
    EXPECT_EQ(readBits(r, 3), 5u);
    EXPECT_EQ(readBits(r, 5), 5u);
    EXPECT_EQ(readBits(r, 16), 258u);
    EXPECT_EQ(readBits(r, 31), 0x7FFFFFFFu);
    EXPECT_EQ(readBit(r), 1u);
    EXPECT_EQ(readBits(r, 3), 6u);
    EXPECT_EQ(readBits(r, 5), 0u);
    EXPECT_EQ(r->endOfData, 0u);
    releaseBitReader(r);
    releaseBitReader(w);
}

TEST(BitWriter, SinkRefusalStopsFurtherCalls)
{
    struct Sink {
        std::vector<uint8_t> got;
        int calls = 0;
        static int32_t take(void* context, uint32_t* slot)
        {
            auto* s = static_cast<Sink*>(context);
            s->calls++;
            s->got.push_back(static_cast<uint8_t>(*slot));
            return s->got.size() >= 2 ? 1 : 0;
        }
    } sink;
    BitReader* w = createBitReader(0);
    attachByteSource(w, &Sink::take, &sink);
    writeBits(w, 24, 0x123456);
    EXPECT_EQ(sink.calls, 2);
    EXPECT_EQ(w->endOfData, 1u);
    EXPECT_EQ(w->byteCount, 3);
    EXPECT_EQ(w->cursor, 3u);
    ASSERT_EQ(sink.got.size(), 2u);
    EXPECT_EQ(sink.got[0], 0x12);
    EXPECT_EQ(sink.got[1], 0x34);
    writeBit(w, 1);
    flushBitWriter(w); // flushing clears the refusal
    EXPECT_EQ(w->byteCount, 4);
    EXPECT_EQ(w->endOfData, 0u);
    EXPECT_EQ(sink.calls, 2);
    releaseBitReader(w);
}

} // namespace
