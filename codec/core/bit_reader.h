// Most-significant-bit-first reader over a memory block or a byte source, and
// the matching bit writer. The end of data is a flag, never an error.
#pragma once
#include "codec/core/force_inline.h"

#include <bit>
#include <cstdint>

// Stores the next byte (0..255) in *slot and returns 0, or returns nonzero
// when no more data will come. May block. As a writer's sink it receives the
// byte in *slot and returns nonzero to refuse further bytes.
typedef int32_t (*ByteSourceFn)(void* context, uint32_t* slot);
// A source that hands over several bytes at a time: points *data at the next
// bytes and returns how many (at least 1), or 0 when no more data will come.
// The bytes stay valid until the next call. May block.
typedef int32_t (*ByteBlockFn)(void* context, const uint8_t** data);

struct BitReader {
    uint8_t* buffer;        // memory mode: the data; callback mode: the source's context
    uintptr_t cursor;       // memory mode: address of the next byte; callback mode: bytes requested
    uint8_t mask;           // bit of currentByte taken next; 128: fetch a new byte first
    uint32_t currentByte;
    int32_t byteCount;      // memory mode: size of the block; writer: bytes emitted
    uint32_t endOfData;     // 1 once the end was met
    ByteSourceFn byteSource; // null: memory mode
    uint32_t ownsBuffer;    // created with a buffer of its own
    ByteBlockFn blockSource; // set instead of byteSource: bytes come in blocks
    const uint8_t* windowNext; // bytes fetched ahead of the reader: the rest of
    const uint8_t* windowEnd;  // the memory block, or of the source's last block
};

BitReader* createBitReader(uint32_t bufferSize);
void resetBitReader(BitReader* reader);
void attachByteSource(BitReader* reader, ByteSourceFn byteSource, void* context);
// Callback mode with a block source: reads exactly as with a byte source that
// delivers the same bytes one by one.
void attachBlockSource(BitReader* reader, ByteBlockFn blockSource, void* context);
void releaseBitReader(BitReader* reader);

// n is 0..31; a read of 0 bits consumes nothing.
uint32_t readBits(BitReader* reader, int n);
inline uint32_t readBit(BitReader* reader);

// Ends the data here: later reads see the end of data, and a byte source is
// not called again.
void endReaderData(BitReader* reader);

// Makes a new byte current; false when the data ended (endOfData is then set).
ZR_INLINE bool fetchReaderByte(BitReader* reader);
// fetchReaderByte once the window of bytes fetched ahead is empty.
bool refillReader(BitReader* reader);

int32_t writeBits(BitReader* writer, int n, uint32_t value);
void writeBit(BitReader* writer, uint32_t bit);
void flushBitWriter(BitReader* writer);

// The same as n (0..30) readBit calls, taking the current byte's bits in
// one step: at the end of data each bit read there is 0, as readBit gives.
ZR_INLINE uint32_t readBitRun(BitReader* reader, int n);
// readBitRun's last n bits (n > 0) after a fetch failed at the first of them:
// result followed by them, read one readBit at a time.
uint32_t finishBitRun(BitReader* reader, uint32_t result, int n);

// Number of 1 bits before the first 0 bit, saturating at INT32_MAX. No bit is
// read once the data has ended: a byte source repeats its last byte after the
// end, and a last byte of ones would otherwise count forever.
inline int32_t readUnary(BitReader* reader);

ZR_INLINE bool fetchReaderByte(BitReader* reader)
{
    // A reader whose end was set from outside takes the slow path, which
    // knows what each mode does after the end.
    if (reader->windowNext != reader->windowEnd && reader->endOfData == 0) {
        reader->currentByte = *reader->windowNext++;
        reader->cursor++;
        return true;
    }
    return refillReader(reader);
}

// Inline: the entropy decoders take most of their input one bit at a time.
inline uint32_t readBit(BitReader* reader)
{
    if (reader->mask == 128 && !fetchReaderByte(reader))
        return 0;
    uint32_t bit = (reader->currentByte & reader->mask) ? 1 : 0;
    reader->mask >>= 1;
    if (reader->mask == 0)
        reader->mask = 128;
    return bit;
}

ZR_INLINE uint32_t readBitRun(BitReader* reader, int n)
{
    // Most runs are short and end inside the current byte.
    const unsigned mask = reader->mask;
    const int left = mask == 128 ? 0 : std::bit_width(mask);
    if (n < left) {
        reader->mask = static_cast<uint8_t>(mask >> n);
        return (reader->currentByte >> (left - n)) & ((1u << n) - 1u);
    }
    // The rest of the current byte, whole bytes, then the top of one more.
    uint32_t result = reader->currentByte & ((1u << left) - 1u);
    n -= left;
    reader->mask = 128;
    while (n >= 8) {
        if (!fetchReaderByte(reader))
            return finishBitRun(reader, result, n);
        result = (result << 8) | reader->currentByte;
        n -= 8;
    }
    if (n > 0) {
        if (!fetchReaderByte(reader))
            return finishBitRun(reader, result, n);
        result = (result << n) | (reader->currentByte >> (8 - n));
        reader->mask = static_cast<uint8_t>(128u >> n);
    }
    return result;
}

inline int32_t readUnary(BitReader* reader)
{
    if (reader->endOfData & 1)
        return 0;
    // Within the loop only a failed fetch ends the data, and it ends the count.
    // A 64-bit count cannot wrap within any stream that can be delivered.
    uint64_t count = 0;
    for (;;) {
        if (reader->mask == 128 && !fetchReaderByte(reader))
            break;
        const uint32_t bit = reader->currentByte & reader->mask;
        reader->mask = reader->mask == 1 ? 128 : static_cast<uint8_t>(reader->mask >> 1);
        if (!bit)
            break;
        count++;
    }
    return count < INT32_MAX ? static_cast<int32_t>(count) : INT32_MAX;
}
