#pragma once

#include <cstddef>
#include <cstdint>

// The image data of a fast PNG: a zlib stream of the rows, every row but the
// first with the row-above filter, in blocks of about 64 KiB, each coded with
// its own Huffman code of the filtered bytes (no matches), or stored where
// that is smaller. Photographs' filtered bytes gain little from matches, and
// this codes them several times faster than a matching compressor.
class PngImageData {
public:
    PngImageData() = default;
    PngImageData(const PngImageData&) = delete;
    PngImageData& operator=(const PngImageData&) = delete;
    ~PngImageData();

    // Packs `height` rows of `rowSize` bytes; false when memory is short.
    bool pack(int32_t height, size_t rowSize, const uint8_t* data);

    const uint8_t* bytes() const { return bytes_; }
    size_t size() const { return size_; }

private:
    uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
};

// Code lengths of a Huffman code for `count` symbols of weights `weights`,
// none longer than `maxLength`, into `lengths` (0 for unused symbols). The
// code is complete: a lone used symbol gets a partner of length 1.
void limitedHuffmanLengths(const uint32_t* weights, int count, int maxLength, uint8_t* lengths);
