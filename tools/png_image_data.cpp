#include "tools/png_image_data.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "codec/core/alloc.h"

namespace {

const int kSymbols = 257; // the 256 byte values and the end of a block
const int kLengthCodes = 19;
const size_t kBlockTarget = 65536;
const size_t kStoredPiece = 65535;

// Deflate's bits, first bit lowest. Up to 56 bits may be put between two
// flushes; a flush stores 8 bytes, so the buffer needs 8 bytes of slack.
struct BitSink {
    uint8_t* out;
    uint64_t bits = 0;
    uint32_t count = 0;

    void put(uint32_t value, uint32_t length)
    {
        bits |= uint64_t(value) << count;
        count += length;
    }
    void flush()
    {
        for (int i = 0; i < 8; i++)
            out[i] = uint8_t(bits >> (8 * i));
        out += count >> 3;
        bits >>= count & ~7u;
        count &= 7;
    }
    void putFlushed(uint32_t value, uint32_t length)
    {
        put(value, length);
        flush();
    }
    // Ends the current byte with zero bits.
    void align()
    {
        flush();
        if (count > 0)
            *out++ = uint8_t(bits);
        bits = 0;
        count = 0;
    }
};

uint32_t reversed(uint32_t code, int length)
{
    uint32_t r = 0;
    for (int i = 0; i < length; i++)
        r |= ((code >> i) & 1) << (length - 1 - i);
    return r;
}

// Canonical codes of `lengths`, bit-reversed for BitSink.
void canonicalCodes(const uint8_t* lengths, int count, uint32_t* codes)
{
    uint32_t perLength[16] = {}, next[16] = {};
    for (int s = 0; s < count; s++)
        perLength[lengths[s]]++;
    perLength[0] = 0;
    for (int l = 1; l < 16; l++)
        next[l] = (next[l - 1] + perLength[l - 1]) << 1;
    for (int s = 0; s < count; s++)
        codes[s] = lengths[s] ? reversed(next[lengths[s]]++, lengths[s]) : 0;
}

struct BlockCode {
    uint8_t lengths[kSymbols + 2]; // literals and end, then two distance codes of length 1
    uint32_t codes[kSymbols];
    uint8_t lengthCodeLengths[kLengthCodes];
    uint32_t lengthCodes[kLengthCodes];
    uint64_t bits; // the whole block, header included
};

const uint8_t kLengthCodeOrder[kLengthCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

void planBlock(const uint32_t* counts, BlockCode* code)
{
    limitedHuffmanLengths(counts, kSymbols, 15, code->lengths);
    code->lengths[kSymbols] = code->lengths[kSymbols + 1] = 1;
    canonicalCodes(code->lengths, kSymbols, code->codes);
    uint32_t lengthCounts[kLengthCodes] = {};
    for (int s = 0; s < kSymbols + 2; s++)
        lengthCounts[code->lengths[s]]++;
    limitedHuffmanLengths(lengthCounts, kLengthCodes, 7, code->lengthCodeLengths);
    canonicalCodes(code->lengthCodeLengths, kLengthCodes, code->lengthCodes);
    uint64_t bits = 3 + 5 + 5 + 4 + 3 * kLengthCodes;
    for (int l = 0; l < kLengthCodes; l++)
        bits += uint64_t(lengthCounts[l]) * code->lengthCodeLengths[l];
    for (int s = 0; s < kSymbols; s++)
        bits += uint64_t(counts[s]) * code->lengths[s];
    code->bits = bits;
}

void writeCodedBlock(BitSink* sink, bool last, const BlockCode& code, const uint8_t* data, size_t size)
{
    sink->putFlushed(last ? 5 : 4, 3); // final flag, then type 2
    sink->put(0, 5);                   // 257 literal and length codes
    sink->put(1, 5);                   // 2 distance codes
    sink->putFlushed(kLengthCodes - 4, 4);
    for (int i = 0; i < kLengthCodes; i++)
        sink->putFlushed(code.lengthCodeLengths[kLengthCodeOrder[i]], 3);
    for (int s = 0; s < kSymbols + 2; s++) {
        uint8_t l = code.lengths[s];
        sink->putFlushed(code.lengthCodes[l], code.lengthCodeLengths[l]);
    }
    // Three codes of at most 15 bits after a flush leave at most 52 bits.
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        sink->put(code.codes[data[i]], code.lengths[data[i]]);
        sink->put(code.codes[data[i + 1]], code.lengths[data[i + 1]]);
        sink->put(code.codes[data[i + 2]], code.lengths[data[i + 2]]);
        sink->flush();
    }
    for (; i < size; i++)
        sink->putFlushed(code.codes[data[i]], code.lengths[data[i]]);
    sink->putFlushed(code.codes[256], code.lengths[256]);
}

size_t storedPieces(size_t size)
{
    return std::max<size_t>(1, (size + kStoredPiece - 1) / kStoredPiece);
}

void writeStoredBlock(BitSink* sink, bool last, const uint8_t* data, size_t size)
{
    size_t pieces = storedPieces(size);
    for (size_t p = 0; p < pieces; p++) {
        size_t n = std::min(kStoredPiece, size - p * kStoredPiece);
        sink->putFlushed(last && p + 1 == pieces ? 1 : 0, 3);
        sink->align();
        uint8_t* out = sink->out;
        out[0] = uint8_t(n);
        out[1] = uint8_t(n >> 8);
        out[2] = uint8_t(~n);
        out[3] = uint8_t(~n >> 8);
        std::memcpy(out + 4, data + p * kStoredPiece, n);
        sink->out = out + 4 + n;
    }
}

void countBytes(const uint8_t* data, size_t size, uint32_t* counts)
{
    // Four tables, so runs of one value do not wait on their own increments.
    uint32_t partial[4][256] = {};
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        partial[0][data[i]]++;
        partial[1][data[i + 1]]++;
        partial[2][data[i + 2]]++;
        partial[3][data[i + 3]]++;
    }
    for (; i < size; i++)
        partial[0][data[i]]++;
    for (int v = 0; v < 256; v++)
        counts[v] = partial[0][v] + partial[1][v] + partial[2][v] + partial[3][v];
}

} // namespace

void limitedHuffmanLengths(const uint32_t* weights, int count, int maxLength, uint8_t* lengths)
{
    std::fill(lengths, lengths + count, uint8_t(0));
    int used[kSymbols];
    uint32_t working[kSymbols];
    int m = 0;
    for (int s = 0; s < count; s++)
        if (weights[s] > 0) {
            used[m] = s;
            working[m++] = weights[s];
        }
    if (m < 2) {
        int s = m == 1 ? used[0] : 0;
        lengths[s] = 1;
        lengths[s == 0 ? 1 : 0] = 1;
        return;
    }
    int order[kSymbols];
    uint32_t weight[2 * kSymbols];
    int parent[2 * kSymbols];
    int depth[2 * kSymbols];
    for (;;) {
        // Leaves by weight; the merged nodes come out in order of weight, so
        // two queues give the tree.
        for (int k = 0; k < m; k++)
            order[k] = k;
        std::stable_sort(order, order + m, [&](int a, int b) { return working[a] < working[b]; });
        for (int k = 0; k < m; k++)
            weight[k] = working[order[k]];
        int leaf = 0, inner = m;
        auto take = [&](int next) {
            if (leaf < m && (inner >= next || weight[leaf] <= weight[inner]))
                return leaf++;
            return inner++;
        };
        for (int next = m; next < 2 * m - 1; next++) {
            int a = take(next);
            int b = take(next);
            weight[next] = weight[a] + weight[b];
            parent[a] = parent[b] = next;
        }
        depth[2 * m - 2] = 0;
        int deepest = 0;
        for (int k = 2 * m - 3; k >= 0; k--) {
            depth[k] = depth[parent[k]] + 1;
            deepest = std::max(deepest, depth[k]);
        }
        if (deepest <= maxLength) {
            for (int k = 0; k < m; k++)
                lengths[used[order[k]]] = uint8_t(depth[k]);
            return;
        }
        // Too deep: flatten the weights and build again.
        for (int k = 0; k < m; k++)
            working[k] = (working[k] >> 1) | 1;
    }
}

PngImageData::~PngImageData()
{
    freeChecked(bytes_);
}

bool PngImageData::pack(int32_t height, size_t rowSize, const uint8_t* data)
{
    freeChecked(bytes_);
    bytes_ = nullptr;
    size_ = 0;
    size_t lineSize = rowSize + 1;
    size_t linesPerBlock = std::max<size_t>(1, kBlockTarget / lineSize);
    size_t blockSize = linesPerBlock * lineSize;
    size_t blocks = (size_t(height) + linesPerBlock - 1) / linesPerBlock;
    // Every block is at most its stored form; 8 bytes of slack for BitSink.
    size_t bound = 2 + size_t(height) * lineSize + blocks * (5 * storedPieces(blockSize) + 1) + 4 + 8;
    uint8_t* block = static_cast<uint8_t*>(allocChecked(blockSize));
    bytes_ = static_cast<uint8_t*>(allocChecked(bound));
    if (!block || !bytes_) {
        freeChecked(block);
        return false;
    }
    bytes_[0] = 0x78; // deflate, 32 KiB window
    bytes_[1] = 0x01; // fastest, and the header check
    BitSink sink{bytes_ + 2};
    uint32_t adler = 1;
    BlockCode code;
    for (size_t y0 = 0; y0 < size_t(height); y0 += linesPerBlock) {
        size_t lines = std::min(linesPerBlock, size_t(height) - y0);
        for (size_t k = 0; k < lines; k++) {
            size_t y = y0 + k;
            uint8_t* line = block + k * lineSize;
            const uint8_t* row = data + y * rowSize;
            if (y == 0) {
                line[0] = 0;
                std::memcpy(line + 1, row, rowSize);
                continue;
            }
            const uint8_t* above = row - rowSize;
            line[0] = 2;
            for (size_t x = 0; x < rowSize; x++)
                line[1 + x] = uint8_t(row[x] - above[x]);
        }
        size_t size = lines * lineSize;
        adler = uint32_t(::adler32(adler, block, uInt(size)));
        uint32_t counts[kSymbols];
        countBytes(block, size, counts);
        counts[256] = 1;
        planBlock(counts, &code);
        bool last = y0 + lines == size_t(height);
        if (code.bits <= 8 * (size + 5 * storedPieces(size)))
            writeCodedBlock(&sink, last, code, block, size);
        else
            writeStoredBlock(&sink, last, block, size);
    }
    sink.align();
    for (int i = 0; i < 4; i++)
        sink.out[i] = uint8_t(adler >> (24 - 8 * i));
    size_ = size_t(sink.out + 4 - bytes_);
    freeChecked(block);
    return true;
}
