#include "tests/server/test_streams.h"

#include <random>

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"

namespace {

struct Writer {
    BitReader* bits;
    explicit Writer(uint32_t capacity) : bits(createBitReader(capacity)) {}
    ~Writer() { releaseBitReader(bits); }
    void put(int n, uint32_t value) { writeBits(bits, n, value); }
    int64_t bitCount() const
    {
        int used = 0;
        for (uint8_t m = 128; m != bits->mask; m >>= 1)
            used++;
        return int64_t(bits->byteCount) * 8 + used;
    }
};

int64_t detailPositions(int32_t height, int32_t width, int32_t L)
{
    int64_t total = 0;
    for (int32_t band = 0; band < 3; band++) {
        BandRect r = bandRect(height, width, L, band);
        total += int64_t(r.rowEnd - r.rowStart) * (r.colEnd - r.colStart);
    }
    return total;
}

void writeHeaderAndLowBands(Writer& w, const TestStreamShape& shape, std::mt19937& random)
{
    w.put(8, 0x5A);
    w.put(8, 0x52);
    w.put(8, 2);
    w.put(8, uint32_t(shape.height) >> 8);
    w.put(8, uint32_t(shape.height) & 255);
    w.put(8, uint32_t(shape.width) >> 8);
    w.put(8, uint32_t(shape.width) & 255);
    w.put(5, 8);               // bitsPerSample
    w.put(1, shape.colour);     // components
    // A step of 2^levels * 8 spreads the 4-bit lowest band over 8..248.
    int32_t levels = levelCount(shape.height, shape.width);
    w.put(1, 0);               // 16-bit quantStep
    w.put(16, uint32_t(8) << (levels > 0 ? levels : 0));
    w.put(2, uint32_t(shape.decodeMode));
    w.put(2, shape.decodeMode == 1 ? 1 : 3); // mapCoder
    w.put(2, 3);               // valueCoder
    w.put(1, 0);               // fineSteps
    w.put(1, 0);               // contrastStretch
    w.put(1, 0);               // magnitudeBoost
    w.put(1, 0);               // no trailer

    int32_t rows = levelSize(shape.height, levels);
    int32_t cols = levelSize(shape.width, levels);
    int components = shape.colour ? 3 : 1;
    for (int c = 0; c < components; c++) {
        w.put(5, 4);           // sample width
        w.put(4, c == 0 ? 0 : 8);
        for (int32_t i = 0; i < rows * cols; i++)
            w.put(4, random() & 15);
    }
}

} // namespace

int32_t testStreamPrefixBytes(const TestStreamShape& shape)
{
    std::mt19937 random(shape.seed);
    Writer w(1 << 16);
    writeHeaderAndLowBands(w, shape, random);
    return int32_t(w.bitCount() / 8);
}

std::vector<uint8_t> makeTestStream(const TestStreamShape& shape)
{
    int32_t levels = levelCount(shape.height, shape.width);
    int components = shape.colour ? 3 : 1;
    int64_t capacity = 4096 + int64_t(shape.height) * shape.width * components * (shape.valueWidth + 8) / 8;
    Writer w{uint32_t(capacity)};
    std::mt19937 random(shape.seed);
    writeHeaderAndLowBands(w, shape, random);

    if (shape.decodeMode == 1) {
        for (int32_t L = levels - 1; L >= 0; L--) {
            w.put(1, shape.detail);
            if (!shape.detail)
                continue;
            int64_t positions = detailPositions(shape.height, shape.width, L);
            for (int c = 0; c < components; c++) {
                w.put(5, uint32_t(shape.valueWidth));
                // Every position is significant: a sign bit and a small value.
                for (int64_t i = 0; i < positions; i++) {
                    w.put(1, random() & 1);
                    w.put(shape.valueWidth, random() & 1);
                }
            }
        }
    }
    flushBitWriter(w.bits);
    return std::vector<uint8_t>(w.bits->buffer, w.bits->buffer + w.bits->byteCount);
}
