// Small streams for the server tests, written with the bit writer.
#pragma once
#include <cstdint>
#include <vector>

struct TestStreamShape {
    int32_t height = 64;
    int32_t width = 64;
    bool colour = false;
    int32_t decodeMode = 1;  // 0 one-pass, 1 level-progressive
    bool detail = true;      // level-progressive: detail at every level
    int32_t valueWidth = 3;  // fixed-width value field of the detail
    uint32_t seed = 1;       // picks the lowest band and detail values
};

// A whole, valid stream. Level-progressive streams carry fixed-width values
// (valueCoder 3) scanned by mapCoder 1 at every position when `detail` is
// set, else a 0 detail flag per level. One-pass streams end after the lowest
// bands, which still decodes to a whole picture.
std::vector<uint8_t> makeTestStream(const TestStreamShape& shape);

// Bytes of header and lowest bands at the start of such a stream.
int32_t testStreamPrefixBytes(const TestStreamShape& shape);
