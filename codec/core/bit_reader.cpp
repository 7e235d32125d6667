#include "codec/core/bit_reader.h"

#include "codec/core/alloc.h"

#include <bit>
#include <cstring>

BitReader* createBitReader(uint32_t bufferSize)
{
    BitReader* reader = static_cast<BitReader*>(allocChecked(sizeof(BitReader)));
    if (!reader)
        return nullptr;
    std::memset(reader, 0, sizeof *reader);
    if (bufferSize != 0) {
        reader->buffer = static_cast<uint8_t*>(allocChecked(bufferSize));
        if (!reader->buffer) {
            freeChecked(reader);
            return nullptr;
        }
        reader->ownsBuffer = 1;
    }
    resetBitReader(reader);
    return reader;
}

void resetBitReader(BitReader* reader)
{
    reader->endOfData = 0;
    reader->cursor = reinterpret_cast<uintptr_t>(reader->buffer);
    reader->mask = 128;
    reader->currentByte = 0;
    reader->byteCount = 0;
    reader->windowNext = nullptr;
    reader->windowEnd = nullptr;
}

namespace {

// Callback mode with one of the two kinds of source (the other null); a null
// source leaves the buffer as it is.
void attachSource(BitReader* reader, ByteSourceFn byteSource, ByteBlockFn blockSource, void* context)
{
    reader->byteSource = byteSource;
    reader->blockSource = blockSource;
    reader->windowNext = nullptr;
    reader->windowEnd = nullptr;
    if (byteSource || blockSource)
        reader->buffer = static_cast<uint8_t*>(context);
}

} // namespace

void attachByteSource(BitReader* reader, ByteSourceFn byteSource, void* context)
{
    attachSource(reader, byteSource, nullptr, context);
}

void attachBlockSource(BitReader* reader, ByteBlockFn blockSource, void* context)
{
    attachSource(reader, nullptr, blockSource, context);
}

void releaseBitReader(BitReader* reader)
{
    if (!reader)
        return;
    if (reader->ownsBuffer)
        freeChecked(reader->buffer);
    freeChecked(reader);
}

void endReaderData(BitReader* reader)
{
    reader->endOfData = 1;
    reader->mask = 128;
    reader->currentByte = 0;
    reader->windowNext = nullptr;
    reader->windowEnd = nullptr;
    if (!reader->byteSource && !reader->blockSource)
        reader->byteCount = -1;
}

bool refillReader(BitReader* reader)
{
    if (reader->byteSource || reader->blockSource) {
        reader->cursor++;
        if (reader->endOfData != 0)
            return true; // after the end the source is not called and the last byte repeats
        if (reader->byteSource) {
            if (reader->byteSource(reader->buffer, &reader->currentByte) != 0) {
                reader->endOfData = 1;
                return false;
            }
            return true;
        }
        const uint8_t* data = nullptr;
        const int32_t n = reader->blockSource(reader->buffer, &data);
        if (n <= 0 || !data) {
            reader->endOfData = 1;
            return false;
        }
        reader->currentByte = data[0];
        reader->windowNext = data + 1;
        reader->windowEnd = data + n;
        return true;
    }
    uintptr_t taken = reader->cursor - reinterpret_cast<uintptr_t>(reader->buffer);
    if (reader->byteCount < 0 || taken >= static_cast<uintptr_t>(reader->byteCount)) {
        reader->endOfData = 1;
        return false;
    }
    reader->currentByte = *reinterpret_cast<const uint8_t*>(reader->cursor);
    reader->cursor++;
    // The rest of the block is read without coming back here.
    reader->windowNext = reinterpret_cast<const uint8_t*>(reader->cursor);
    reader->windowEnd = reader->buffer + reader->byteCount;
    return true;
}

uint32_t finishBitRun(BitReader* reader, uint32_t result, int n)
{
    // The failed fetch gave a 0 bit.
    result <<= 1;
    while (--n > 0)
        result = (result << 1) | readBit(reader);
    return result;
}

// Takes the bits of the current byte in groups. The mask marks the highest
// bit left; 128 before a fetch means none are left, after it all eight.
uint32_t readBits(BitReader* reader, int n)
{
    uint32_t result = 0;
    while (n > 0) {
        if (reader->mask == 128 && !fetchReaderByte(reader))
            return 0;
        const int left = std::bit_width(static_cast<unsigned>(reader->mask));
        const int take = n < left ? n : left;
        const uint32_t bits = (reader->currentByte >> (left - take)) & ((1u << take) - 1u);
        result = (result << take) | bits;
        n -= take;
        reader->mask = static_cast<uint8_t>(take == left ? 128 : 1u << (left - take - 1));
    }
    return result;
}

static void emitByte(BitReader* writer)
{
    if (writer->byteSource) {
        if (writer->endOfData == 0) {
            uint32_t slot = writer->currentByte;
            if (writer->byteSource(writer->buffer, &slot) != 0)
                writer->endOfData = 1;
        }
    } else {
        *reinterpret_cast<uint8_t*>(writer->cursor) = static_cast<uint8_t>(writer->currentByte);
    }
    writer->cursor++;
    writer->byteCount++;
    writer->currentByte = 0;
    writer->mask = 128;
}

void writeBit(BitReader* writer, uint32_t bit)
{
    if (bit)
        writer->currentByte |= writer->mask;
    writer->mask >>= 1;
    if (writer->mask == 0)
        emitByte(writer);
}

int32_t writeBits(BitReader* writer, int n, uint32_t value)
{
    for (int i = n - 1; i >= 0; i--)
        writeBit(writer, (value >> i) & 1u);
    return writer->byteCount;
}

void flushBitWriter(BitReader* writer)
{
    if (writer->mask != 128)
        emitByte(writer);
    writer->endOfData = 0;
    writer->cursor = reinterpret_cast<uintptr_t>(writer->buffer);
    writer->mask = 128;
    writer->currentByte = 0;
}
