#include <gtest/gtest.h>

#include <vector>

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/recon/lowest_band.h"
#include "tests/codec/onepass/stream_builder.h"

namespace {

// A streaming decode that is aborted inside the lowest band must store the
// rest of the band, and every later band, as zero fields, as a decode of the
// same bytes from memory does; a byte source repeats its last byte after the
// end, which must not leak into the picture.
TEST(LowestBandEndOfData, FieldsAfterTheEndReadAsZeroFromAByteSourceToo)
{
    // Width 3, base 2, eight samples; the last byte is all ones.
    const uint32_t samples[8] = {5, 0, 2, 1, 3, 7, 7, 7};
    BitSink sink;
    sink.bits(5, 3);
    sink.bits(3, 2);
    for (uint32_t s : samples)
        sink.bits(3, s);
    std::vector<uint8_t> data = sink.finish();
    ASSERT_EQ(data.size(), 4u);
    ASSERT_EQ(data.back(), 0xFF);

    const int32_t size = 16, levels = 1, R = levelSize(size, levels);
    const int32_t Q = 32 * 3;
    for (bool streaming : {false, true}) {
        ByteFeed feed{&data};
        BitReader* bits = streaming ? createBitReader(0) : createMemoryReader(data);
        if (streaming)
            attachByteSource(bits, ByteFeed::fetch, &feed);
        Plane y = makePlane(size, size);
        Plane u = makePlane(size, size);
        readLowestBand(bits, y, size, size, 0, levels, 3);
        readLowestBand(bits, u, size, size, 1, levels, 3);
        EXPECT_EQ(bits->endOfData, 1u);
        const int32_t expected[8] = {Q * 7, -Q * 5, Q, -Q * 3, Q * 3, Q * 11, Q * 11, Q * 11};
        for (int32_t c = 0; c < 8; c++)
            EXPECT_EQ(y[0][c], expected[c]) << streaming << " " << c;
        // s = 0 against base 2 for the rest of component 0; component 1
        // reads width 0, so every sample is in the dead zone.
        for (int32_t r = 0; r < R; r++)
            for (int32_t c = (r == 0 ? 8 : 0); c < R; c++)
                ASSERT_EQ(y[r][c], -Q * 5) << streaming << " " << r << "," << c;
        for (int32_t r = 0; r < R; r++)
            for (int32_t c = 0; c < R; c++)
                ASSERT_EQ(u[r][c], 0) << streaming << " " << r << "," << c;
        freePlane(y);
        freePlane(u);
        releaseBitReader(bits);
    }
}

} // namespace
