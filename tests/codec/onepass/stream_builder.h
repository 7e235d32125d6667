// Test helpers: a growable bit writer, a reader over the written bytes, and an
// independent model of the one-pass map layout used to build streams.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/core/alloc.h"
#include "codec/core/array2d.h"
#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"

// Bit writer into a growing byte vector; bytes() flushes and returns what
// was written.
class BitSink {
public:
    BitSink() : writer_(createBitReader(0))
    {
        resetBitReader(writer_);
        attachByteSource(writer_, appendByte, &out_);
    }
    ~BitSink() { releaseBitReader(writer_); }
    BitSink(const BitSink&) = delete;
    BitSink& operator=(const BitSink&) = delete;

    BitReader* writer() { return writer_; }
    void bits(int n, uint32_t value)
    {
        writeBits(writer_, n, value);
        written_ += n;
    }
    void bit(uint32_t b) { bits(1, b); }
    void unary(int ones)
    {
        for (int i = 0; i < ones; i++)
            bit(1);
        bit(0);
    }
    // Bits written through bits()/bit(); entropy encoders write past it.
    int64_t counted() const { return written_; }
    // Total bits written so far, whoever wrote them.
    int64_t position() const
    {
        int used = 0;
        for (uint8_t m = writer_->mask; m != 128; m <<= 1)
            used++;
        return static_cast<int64_t>(writer_->byteCount) * 8 + used;
    }
    std::vector<uint8_t> bytes()
    {
        flushBitWriter(writer_);
        return out_;
    }

private:
    static int32_t appendByte(void* context, uint32_t* slot)
    {
        static_cast<std::vector<uint8_t>*>(context)->push_back(static_cast<uint8_t>(*slot));
        return 0;
    }

    BitReader* writer_;
    std::vector<uint8_t> out_;
    int64_t written_ = 0;
};

// Reader over a byte vector that must outlive it.
class BitSource {
public:
    explicit BitSource(const std::vector<uint8_t>& data) : reader_(createBitReader(0))
    {
        reader_->buffer = const_cast<uint8_t*>(data.data());
        resetBitReader(reader_);
        reader_->byteCount = static_cast<int32_t>(data.size());
    }
    ~BitSource() { releaseBitReader(reader_); }
    BitSource(const BitSource&) = delete;
    BitSource& operator=(const BitSource&) = delete;
    BitReader* reader() { return reader_; }
    // Bits taken from the data so far.
    int64_t consumed() const
    {
        int64_t bytes = static_cast<int64_t>(reader_->cursor - reinterpret_cast<uintptr_t>(reader_->buffer));
        if (reader_->mask == 128)
            return bytes * 8;
        int rest = 0;
        for (uint8_t m = reader_->mask; m; m >>= 1)
            rest++;
        return bytes * 8 - rest;
    }

private:
    BitReader* reader_;
};

// A byte map of rows x cols filled with 1.
class ByteMap {
public:
    ByteMap(int32_t rows, int32_t cols)
        : rows_(rows), cols_(cols), map_(reinterpret_cast<uint8_t**>(makeArray2D(rows, cols, 1)))
    {
        std::memset(map_[0], 1, static_cast<size_t>(rows) * cols);
    }
    ~ByteMap() { freeArray2D(reinterpret_cast<void**>(map_)); }
    ByteMap(const ByteMap&) = delete;
    ByteMap& operator=(const ByteMap&) = delete;
    uint8_t** get() { return map_; }
    uint8_t& at(int32_t r, int32_t c) { return map_[r][c]; }
    int32_t count(uint8_t code) const
    {
        int32_t n = 0;
        for (int32_t i = 0; i < rows_ * cols_; i++)
            n += map_[0][i] == code;
        return n;
    }

private:
    int32_t rows_, cols_;
    uint8_t** map_;
};

// Parent of a band coordinate at the next coarser level, from the band's
// first coordinate and end at both levels (independent of the parity codes).
inline int32_t referenceParent(int32_t x, int32_t start, int32_t parentStart, int32_t parentEnd)
{
    int32_t p = parentStart + ((x - start) >> 1);
    return p < parentEnd - 1 ? p : parentEnd - 1;
}

// Marks (r, c) of band t at level L and its ancestors the reference way.
inline void referenceMark(std::vector<std::vector<uint8_t>>& map, int32_t rows, int32_t cols,
                          int32_t levels, int32_t L, int32_t t, int32_t r, int32_t c)
{
    map[r][c] = 2;
    for (int32_t k = L + 1; k < levels; k++) {
        BandRect child = bandRect(rows, cols, k - 1, t);
        BandRect parent = bandRect(rows, cols, k, t);
        r = referenceParent(r, child.rowStart, parent.rowStart, parent.rowEnd);
        c = referenceParent(c, child.colStart, parent.colStart, parent.colEnd);
        if (map[r][c] != 1)
            return;
        map[r][c] = 4;
    }
}
