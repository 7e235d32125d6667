// Test streams written and read with the codec's own bit writer and reader.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codec/core/bit_reader.h"

// Bits of the current byte a reader or writer has already passed.
inline int bitsPassed(uint8_t mask)
{
    int n = 0;
    for (uint8_t m = 128; m != mask; m >>= 1)
        n++;
    return n;
}

// A writer's sink that appends each byte to the std::vector<uint8_t> given
// as its context.
inline int32_t appendByte(void* context, uint32_t* slot)
{
    static_cast<std::vector<uint8_t>*>(context)->push_back(static_cast<uint8_t>(*slot));
    return 0;
}

// Writes a string of '0' and '1' characters.
inline void writeBitString(BitReader* writer, const std::string& bits)
{
    for (char c : bits)
        writeBit(writer, c == '1');
}

// A memory-mode reader over `size` bytes at `data`, which must outlive it.
// Release with releaseBitReader.
inline BitReader* createMemoryReader(const uint8_t* data, size_t size)
{
    BitReader* reader = createBitReader(0);
    reader->buffer = const_cast<uint8_t*>(data);
    resetBitReader(reader);
    reader->byteCount = static_cast<int32_t>(size);
    return reader;
}

inline BitReader* createMemoryReader(const std::vector<uint8_t>& data)
{
    return createMemoryReader(data.data(), data.size());
}

// Bits a memory-mode reader has taken from its data.
inline int64_t bitsTaken(const BitReader* reader)
{
    int64_t bytes = static_cast<int64_t>(reader->cursor - reinterpret_cast<uintptr_t>(reader->buffer));
    return reader->mask == 128 ? bytes * 8 : (bytes - 1) * 8 + bitsPassed(reader->mask);
}

// Bit writer into a growing byte vector, and a reader over what it wrote.
class BitSink {
public:
    BitSink()
    {
        std::memset(&writer_, 0, sizeof writer_);
        resetBitReader(&writer_);
        attachByteSource(&writer_, appendByte, &bytes_);
    }
    ~BitSink() { releaseBitReader(reader_); }
    BitSink(const BitSink&) = delete;
    BitSink& operator=(const BitSink&) = delete;

    // For the codec's writers, which write past counted().
    BitReader* writer() { return &writer_; }
    BitSink& bits(int n, uint32_t value)
    {
        writeBits(&writer_, n, value);
        counted_ += n;
        return *this;
    }
    BitSink& bit(uint32_t b) { return bits(1, b); }
    BitSink& unary(int ones)
    {
        for (int i = 0; i < ones; i++)
            bit(1);
        return bit(0);
    }
    // Bits written through bits(), bit() and unary().
    int64_t counted() const { return counted_; }
    // Bits written so far, whoever wrote them, the unfinished byte included.
    int64_t bitCount() const { return static_cast<int64_t>(bytes_.size()) * 8 + bitsPassed(writer_.mask); }
    // The whole bytes written so far.
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // Pads the last byte with zero bits and returns everything written.
    std::vector<uint8_t> finish()
    {
        flushBitWriter(&writer_);
        return bytes_;
    }
    // Finishes the written bits and reads them back from the start, through a
    // reader the sink owns (replacing the previous one); keepBytes (when >= 0)
    // truncates the data first.
    BitReader* read(int64_t keepBytes = -1)
    {
        flushBitWriter(&writer_);
        if (keepBytes >= 0 && keepBytes < static_cast<int64_t>(bytes_.size()))
            bytes_.resize(static_cast<size_t>(keepBytes));
        releaseBitReader(reader_);
        reader_ = createMemoryReader(bytes_.data(), bytes_.size());
        return reader_;
    }
    // Bits the reader of read() has consumed.
    int64_t bitsRead() const { return bitsTaken(reader_); }

private:
    BitReader writer_;
    BitReader* reader_ = nullptr;
    std::vector<uint8_t> bytes_;
    int64_t counted_ = 0;
};

// A memory-mode reader that releases itself.
class BitSource {
public:
    explicit BitSource(const std::vector<uint8_t>& data) : reader_(createMemoryReader(data)) {}
    BitSource(const std::vector<uint8_t>& data, size_t size) : reader_(createMemoryReader(data.data(), size)) {}
    ~BitSource() { releaseBitReader(reader_); }
    BitSource(const BitSource&) = delete;
    BitSource& operator=(const BitSource&) = delete;
    BitReader* reader() { return reader_; }
    int64_t consumed() const { return bitsTaken(reader_); }

private:
    BitReader* reader_;
};

// A byte source over a vector that must outlive it; ends after its last byte.
struct ByteFeed {
    const std::vector<uint8_t>* data;
    size_t next = 0;

    static int32_t fetch(void* context, uint32_t* slot)
    {
        ByteFeed* feed = static_cast<ByteFeed*>(context);
        if (feed->next >= feed->data->size())
            return 1;
        *slot = (*feed->data)[feed->next++];
        return 0;
    }
};
