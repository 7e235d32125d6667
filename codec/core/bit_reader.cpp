#include "codec/core/bit_reader.h"

#include "codec/core/alloc.h"

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
}

void attachByteSource(BitReader* reader, ByteSourceFn byteSource, void* context)
{
    reader->byteSource = byteSource;
    if (byteSource)
        reader->buffer = static_cast<uint8_t*>(context);
}

void releaseBitReader(BitReader* reader)
{
    if (!reader)
        return;
    if (reader->ownsBuffer)
        freeChecked(reader->buffer);
    freeChecked(reader);
}

// Makes a new byte current; false when the data ended (endOfData is then set).
static inline bool fetchByte(BitReader* reader)
{
    if (reader->byteSource) {
        reader->cursor++;
        if (reader->endOfData == 0 && reader->byteSource(reader->buffer, &reader->currentByte) != 0) {
            reader->endOfData = 1;
            return false;
        }
        // After the end the source is not called and the last byte repeats.
        return true;
    }
    uintptr_t taken = reader->cursor - reinterpret_cast<uintptr_t>(reader->buffer);
    if (reader->byteCount < 0 || taken >= static_cast<uintptr_t>(reader->byteCount)) {
        reader->endOfData = 1;
        return false;
    }
    reader->currentByte = *reinterpret_cast<const uint8_t*>(reader->cursor);
    reader->cursor++;
    return true;
}

uint32_t readBits(BitReader* reader, int n)
{
    if (n <= 0)
        return 0;
    uint32_t result = 0;
    uint32_t bitValue = 1u << (n - 1);
    for (int i = 0; i < n; i++) {
        if (reader->mask == 128 && !fetchByte(reader))
            return 0;
        if (reader->currentByte & reader->mask)
            result |= bitValue;
        bitValue >>= 1;
        reader->mask >>= 1;
        if (reader->mask == 0)
            reader->mask = 128;
    }
    return result;
}

uint32_t readBit(BitReader* reader)
{
    if (reader->mask == 128 && !fetchByte(reader))
        return 0;
    uint32_t bit = (reader->currentByte & reader->mask) ? 1 : 0;
    reader->mask >>= 1;
    if (reader->mask == 0)
        reader->mask = 128;
    return bit;
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
