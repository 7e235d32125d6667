#include "tests/server/test_streams.h"

#include <random>

#include "codec/core/geometry.h"
#include "tests/support/stream_header.h"

namespace {

int64_t detailPositions(int32_t height, int32_t width, int32_t L)
{
    int64_t total = 0;
    for (int32_t band = 0; band < 3; band++) {
        BandRect r = bandRect(height, width, L, band);
        total += int64_t(r.rowEnd - r.rowStart) * (r.colEnd - r.colStart);
    }
    return total;
}

void writeHeaderAndLowBands(BitSink& w, const TestStreamShape& shape, std::mt19937& random)
{
    HeaderFields h;
    h.height = uint32_t(shape.height);
    h.width = uint32_t(shape.width);
    h.colour = shape.colour;
    h.decodeMode = uint32_t(shape.decodeMode);
    h.mapCoder = shape.decodeMode == 1 ? 1 : 3;
    writeStreamStart(w, h, 4, [&](int) { return random() & 15; });
}

} // namespace

int32_t testStreamPrefixBytes(const TestStreamShape& shape)
{
    std::mt19937 random(shape.seed);
    BitSink w;
    writeHeaderAndLowBands(w, shape, random);
    return int32_t(w.bitCount() / 8);
}

std::vector<uint8_t> makeTestStream(const TestStreamShape& shape)
{
    int32_t levels = levelCount(shape.height, shape.width);
    int components = shape.colour ? 3 : 1;
    BitSink w;
    std::mt19937 random(shape.seed);
    writeHeaderAndLowBands(w, shape, random);

    if (shape.decodeMode == 1) {
        for (int32_t L = levels - 1; L >= 0; L--) {
            w.bits(1, shape.detail);
            if (!shape.detail)
                continue;
            int64_t positions = detailPositions(shape.height, shape.width, L);
            for (int c = 0; c < components; c++) {
                w.bits(5, uint32_t(shape.valueWidth));
                // Every position is significant: a sign bit and a small value.
                for (int64_t i = 0; i < positions; i++) {
                    w.bits(1, random() & 1);
                    w.bits(shape.valueWidth, random() & 1);
                }
            }
        }
    }
    return w.finish();
}
