#include "tools/png_image_data.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

// Sum of 2^-length over the used symbols, in units of 2^-maxLength.
uint64_t kraftSum(const std::vector<uint8_t>& lengths, int maxLength)
{
    uint64_t sum = 0;
    for (uint8_t l : lengths)
        if (l)
            sum += uint64_t(1) << (maxLength - l);
    return sum;
}

TEST(PngImageData, HuffmanLengthsAreCompleteAndWithinTheLimit)
{
    struct Case {
        std::string name;
        std::vector<uint32_t> weights;
        int maxLength;
    };
    std::vector<Case> cases;
    std::vector<uint32_t> fibonacci(40);
    fibonacci[0] = fibonacci[1] = 1;
    for (size_t i = 2; i < fibonacci.size(); i++)
        fibonacci[i] = fibonacci[i - 1] + fibonacci[i - 2];
    fibonacci.resize(257, 0);
    cases.push_back({"fibonacci, 15 bits", fibonacci, 15});
    std::vector<uint32_t> powers(19, 0);
    for (int i = 0; i < 16; i++)
        powers[i] = 1u << i;
    cases.push_back({"powers of two, 7 bits", powers, 7});
    std::vector<uint32_t> flat(257, 5);
    cases.push_back({"flat", flat, 15});
    std::vector<uint32_t> one(257, 0);
    one[200] = 9;
    cases.push_back({"one symbol", one, 15});
    std::vector<uint32_t> first(19, 0);
    first[0] = 3;
    cases.push_back({"only the first symbol", first, 7});
    cases.push_back({"no symbol", std::vector<uint32_t>(19, 0), 7});
    for (const Case& c : cases) {
        std::vector<uint8_t> lengths(c.weights.size(), 99);
        limitedHuffmanLengths(c.weights.data(), int(c.weights.size()), c.maxLength, lengths.data());
        EXPECT_EQ(kraftSum(lengths, c.maxLength), uint64_t(1) << c.maxLength) << c.name;
        for (size_t s = 0; s < lengths.size(); s++) {
            EXPECT_LE(lengths[s], c.maxLength) << c.name << ", symbol " << s;
            if (c.weights[s] > 0) {
                EXPECT_GT(lengths[s], 0) << c.name << ", symbol " << s;
            }
        }
    }
    // Where no limit bites the code is a Huffman code: the flat 257 take 8
    // and 9 bits, the powers of two one bit more for each halving.
    std::vector<uint8_t> lengths(257);
    limitedHuffmanLengths(flat.data(), 257, 15, lengths.data());
    EXPECT_EQ(lengths[0] + lengths[1], 9 + 9);
    EXPECT_EQ(lengths[256], 8);
    limitedHuffmanLengths(powers.data(), 19, 15, lengths.data());
    EXPECT_EQ(lengths[15], 1);
    EXPECT_EQ(lengths[1], 15);
    EXPECT_EQ(lengths[16], 0);
}

// The filtered rows a PNG decoder expects: filter byte 0 and the row, then
// filter byte 2 and the differences to the row above.
std::vector<uint8_t> filteredRows(const std::vector<uint8_t>& data, size_t height, size_t rowSize)
{
    std::vector<uint8_t> out;
    for (size_t y = 0; y < height; y++) {
        out.push_back(y ? 2 : 0);
        for (size_t x = 0; x < rowSize; x++)
            out.push_back(uint8_t(data[y * rowSize + x] - (y ? data[(y - 1) * rowSize + x] : 0)));
    }
    return out;
}

// zlib inflates the packed data to exactly the filtered rows, for pictures
// whose blocks are coded, stored, of one value, of skewed values that need
// the length limit, and rows longer than a stored block.
TEST(PngImageData, InflatesToTheFilteredRows)
{
    uint32_t seed = 777;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t(seed >> 16);
    };
    struct Case {
        std::string name;
        size_t height, rowSize;
        int kind;
    };
    for (const Case& c : {Case{"one byte", 1, 1, 0}, Case{"smooth", 300, 517, 1}, Case{"noise", 90, 2000, 2},
                          Case{"one value", 200, 700, 3}, Case{"skewed", 64, 4096, 4},
                          Case{"long rows", 3, 200000, 1}, Case{"long noisy rows", 2, 140000, 2}}) {
        std::vector<uint8_t> data(c.height * c.rowSize);
        uint32_t fib[24] = {1, 1};
        for (int i = 2; i < 24; i++)
            fib[i] = fib[i - 1] + fib[i - 2];
        for (size_t i = 0; i < data.size(); i++) {
            size_t y = i / c.rowSize, x = i % c.rowSize;
            switch (c.kind) {
            case 0: data[i] = 0x5A; break;
            case 1: data[i] = uint8_t(x / 7 + y / 3 + (next() & 3)); break;
            case 2: data[i] = next(); break;
            case 3: data[i] = 77; break;
            default: {
                // Differences to the row above drawn with Fibonacci weights.
                uint32_t r = (uint32_t(next()) << 8 | next()) % fib[23];
                int v = 0;
                for (uint32_t acc = 0; v < 22 && (acc += fib[v]) <= r;)
                    v++;
                data[i] = uint8_t((y ? data[i - c.rowSize] : 0) + v * 11);
            }
            }
        }
        PngImageData packed;
        ASSERT_TRUE(packed.pack(int32_t(c.height), c.rowSize, data.data())) << c.name;
        std::vector<uint8_t> expected = filteredRows(data, c.height, c.rowSize);
        std::vector<uint8_t> back(expected.size() + 16);
        uLongf backSize = uLongf(back.size());
        ASSERT_EQ(uncompress(back.data(), &backSize, packed.bytes(), uLong(packed.size())), Z_OK) << c.name;
        back.resize(backSize);
        EXPECT_TRUE(back == expected) << c.name;
        // Never much above the stored form; compressible rows well below.
        EXPECT_LE(packed.size(), expected.size() + expected.size() / 1000 + 16) << c.name;
        if (c.kind == 1) {
            EXPECT_LT(packed.size(), expected.size() * 3 / 4) << c.name;
        }
        if (c.kind == 3) {
            EXPECT_LT(packed.size(), expected.size() / 6) << c.name;
        }
    }
}

} // namespace
