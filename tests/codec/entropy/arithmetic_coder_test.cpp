#include "codec/entropy/arithmetic_coder.h"

#include "codec/entropy/context_model.h"
#include "tests/support/bit_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

TEST(ArithmeticCoder, StartAndWholeScaleRange)
{
    BitSink buf;
    writeBits(buf.writer(), 16, 0xBEEF);
    writeBits(buf.writer(), 8, 0x5A);
    BitReader* reader = buf.read();
    ContextModel dec{};
    startArithmeticDecoder(reader, &dec);
    EXPECT_EQ(dec.code, 0xBEEF);
    EXPECT_EQ(dec.low, 0);
    EXPECT_EQ(dec.high, 0xFFFF);
    SymbolRange whole = {0, 1000, 1000};
    EXPECT_EQ(currentCount(&whole, &dec), ((0xBEEF + 1) * 1000 - 1) / 65536);

    // The whole scale changes nothing and moves no bits on either side.
    removeSymbol(reader, &whole, &dec);
    EXPECT_EQ(dec.low, 0);
    EXPECT_EQ(dec.high, 0xFFFF);
    EXPECT_EQ(buf.bitsRead(), 16);
    ContextModel enc{};
    startArithmeticEncoder(&enc);
    BitSink out;
    encodeRange(out.writer(), &whole, &enc);
    EXPECT_EQ(out.bitCount(), 0);
}

TEST(ArithmeticCoder, UnderflowStraddlingTheMiddle)
{
    // [0x4000, 0xBFFF] straddles the middle closely: one deferred bit, code bit 14 flips.
    SymbolRange middle = {1, 3, 4};
    ContextModel enc{};
    startArithmeticEncoder(&enc);
    BitSink out;
    encodeRange(out.writer(), &middle, &enc);
    EXPECT_EQ(enc.pendingBits, 1);
    EXPECT_EQ(out.bitCount(), 0);
    EXPECT_EQ(enc.low, 0x0000);
    EXPECT_EQ(enc.high, 0xFFFF);

    BitSink in;
    writeBits(in.writer(), 17, (0x5123u << 1) | 1u);
    BitReader* reader = in.read();
    ContextModel dec{};
    startArithmeticDecoder(reader, &dec);
    removeSymbol(reader, &middle, &dec);
    EXPECT_EQ(dec.code, ((0x5123 ^ 0x4000) << 1 | 1) & 0xFFFF);
    EXPECT_EQ(dec.low, 0x0000);
    EXPECT_EQ(dec.high, 0xFFFF);
}

TEST(ArithmeticCoder, RandomRangesRoundTripAndSegmentEnd)
{
    std::mt19937 rng(21);
    for (int segment = 0; segment < 20; segment++) {
        std::vector<SymbolRange> ranges;
        int steps = segment == 0 ? 1 : 5000;
        for (int i = 0; i < steps; i++) {
            uint16_t scale = static_cast<uint16_t>(1 + rng() % (segment % 2 ? 16383 : 40));
            uint16_t a = static_cast<uint16_t>(rng() % scale);
            uint16_t b = static_cast<uint16_t>(a + 1 + rng() % (scale - a));
            ranges.push_back({a, b, scale});
        }
        ContextModel enc{};
        startArithmeticEncoder(&enc);
        BitSink buf;
        for (const SymbolRange& r : ranges)
            encodeRange(buf.writer(), &r, &enc);
        flushArithmeticEncoder(buf.writer(), &enc);
        writeBits(buf.writer(), 6, 0x2D);

        BitReader* reader = buf.read();
        ContextModel dec{};
        startArithmeticDecoder(reader, &dec);
        for (const SymbolRange& r : ranges) {
            int16_t count = currentCount(&r, &dec);
            ASSERT_GE(count, r.lowCount);
            ASSERT_LT(count, r.highCount);
            removeSymbol(reader, &r, &dec);
        }
        // The closing bits: exactly 0, 0, 1 remain before the next field.
        EXPECT_EQ(readBits(reader, 3), 1u);
        EXPECT_EQ(readBits(reader, 6), 0x2Du);
        EXPECT_EQ(reader->endOfData, 0u);
    }
}

namespace {

// removeSymbol as the coder defines it: one shift per settled bit, then one per
// underflow bit.
void removeSymbolBitByBit(BitReader* reader, const SymbolRange* range, ContextModel* model)
{
    const int32_t r = (model->high - model->low) + 1;
    uint32_t high = (model->low + (r * range->highCount) / range->scale - 1) & 0xFFFFu;
    uint32_t low = (model->low + (r * range->lowCount) / range->scale) & 0xFFFFu;
    uint32_t code = model->code;
    for (;;) {
        if ((high & 0x8000u) == (low & 0x8000u)) {
        } else if ((low & 0x4000u) && !(high & 0x4000u)) {
            code ^= 0x4000u;
            low &= 0x3FFFu;
            high |= 0x4000u;
        } else {
            break;
        }
        low = (low << 1) & 0xFFFFu;
        high = ((high << 1) | 1u) & 0xFFFFu;
        code = ((code << 1) | readBit(reader)) & 0xFFFFu;
    }
    model->low = static_cast<uint16_t>(low);
    model->high = static_cast<uint16_t>(high);
    model->code = static_cast<uint16_t>(code);
}

} // namespace

// The grouped shifts against single ones, from any registers (inconsistent
// ones too, as corrupt data gives), across byte boundaries and the data's end.
TEST(ArithmeticCoder, GroupedShiftsMatchSingleShifts)
{
    std::mt19937 rng(15);
    for (int trial = 0; trial < 20000; trial++) {
        std::vector<uint8_t> data(1 + rng() % 6);
        for (uint8_t& b : data)
            b = static_cast<uint8_t>(rng());
        BitReader* fast = createMemoryReader(data);
        BitReader* slow = createMemoryReader(data);
        const int skip = static_cast<int>(rng() % 8);
        readBits(fast, skip);
        readBits(slow, skip);
        ContextModel a{};
        a.low = static_cast<uint16_t>(rng());
        a.high = static_cast<uint16_t>(trial % 4 ? a.low + rng() % (0x10000 - a.low) : rng());
        a.code = static_cast<uint16_t>(rng());
        ContextModel b = a;
        for (int step = 0; step < 4; step++) {
            SymbolRange range;
            range.scale = static_cast<uint16_t>(1 + rng() % 16383);
            range.highCount = static_cast<uint16_t>(1 + rng() % range.scale);
            range.lowCount = static_cast<uint16_t>(rng() % range.highCount);
            removeSymbol(fast, &range, &a);
            removeSymbolBitByBit(slow, &range, &b);
            ASSERT_EQ(a.low, b.low) << trial;
            ASSERT_EQ(a.high, b.high) << trial;
            ASSERT_EQ(a.code, b.code) << trial;
            ASSERT_EQ(fast->cursor - reinterpret_cast<uintptr_t>(fast->buffer),
                      slow->cursor - reinterpret_cast<uintptr_t>(slow->buffer));
            ASSERT_EQ(fast->mask, slow->mask);
            ASSERT_EQ(fast->endOfData, slow->endOfData);
        }
        releaseBitReader(fast);
        releaseBitReader(slow);
    }
}

TEST(ArithmeticCoder, ScaleReciprocalDividesExactly)
{
    // Every scale: the bound the exactness rests on, and the products that
    // come closest to the next integer (remainder scale - 1) at the top of
    // the range, where the reciprocal's excess is largest.
    std::mt19937 random(5);
    for (uint32_t scale = 1; scale < 0x4000; scale++) {
        const uint64_t m = scaleReciprocal(scale);
        const uint64_t excess = m * scale - (uint64_t{1} << kScaleReciprocalShift);
        const uint64_t largest = uint64_t{65536} * (scale - 1);
        ASSERT_LT(excess, scale);
        ASSERT_LT(largest * excess, uint64_t{1} << kScaleReciprocalShift) << scale;
        ASSERT_EQ(divideByScale(static_cast<uint32_t>(largest), m), largest / scale) << scale;
        const uint64_t top = largest / scale;
        for (uint64_t k = top > 64 ? top - 64 : 1; k <= top; k++) {
            ASSERT_EQ(divideByScale(static_cast<uint32_t>(k * scale - 1), m), k - 1) << scale;
            ASSERT_EQ(divideByScale(static_cast<uint32_t>(k * scale), m), k) << scale;
        }
        for (int i = 0; i < 16; i++) {
            const uint32_t product = (1 + random() % 65536) * static_cast<uint32_t>(random() % scale);
            ASSERT_EQ(divideByScale(product, m), product / scale) << scale << " " << product;
        }
    }
}
