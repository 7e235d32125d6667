#include "codec/encoder/bit_sink.h"

#include <cstring>

namespace {

int32_t appendByte(void* context, uint32_t* slot)
{
    static_cast<std::vector<uint8_t>*>(context)->push_back(static_cast<uint8_t>(*slot));
    return 0;
}

int32_t dropByte(void*, uint32_t*)
{
    return 0;
}

} // namespace

BitReader* createBitSink(std::vector<uint8_t>* out)
{
    BitReader* writer = createBitReader(0);
    if (!writer)
        return nullptr;
    if (out)
        attachByteSource(writer, appendByte, out);
    else
        attachByteSource(writer, dropByte, nullptr);
    return writer;
}

void releaseBitSink(BitReader* writer)
{
    releaseBitReader(writer);
}

int64_t bitsWritten(const BitReader* writer)
{
    int64_t partial = 0;
    for (uint8_t mask = writer->mask; mask != 128; mask <<= 1)
        partial++;
    return static_cast<int64_t>(writer->byteCount) * 8 + partial;
}

void writeByteRun(BitReader* writer, const uint8_t* bytes, size_t count)
{
    bool appending = writer->byteSource == appendByte;
    if (count == 0 || writer->endOfData || (!appending && writer->byteSource != dropByte)) {
        for (size_t i = 0; i < count; i++)
            writeBits(writer, 8, bytes[i]);
        return;
    }
    // Bits already in the partial byte: each byte's top goes in after them.
    int32_t held = 0;
    for (uint8_t mask = writer->mask; mask != 128; mask <<= 1)
        held++;
    uint32_t carry = writer->currentByte;
    if (appending) {
        auto* out = reinterpret_cast<std::vector<uint8_t>*>(writer->buffer);
        size_t at = out->size();
        out->resize(at + count);
        uint8_t* to = out->data() + at;
        if (held == 0) {
            std::memcpy(to, bytes, count);
        } else {
            for (size_t i = 0; i < count; i++) {
                to[i] = static_cast<uint8_t>(carry | (bytes[i] >> held));
                carry = (static_cast<uint32_t>(bytes[i]) << (8 - held)) & 0xFFu;
            }
        }
    }
    writer->currentByte = held == 0 ? 0 : (static_cast<uint32_t>(bytes[count - 1]) << (8 - held)) & 0xFFu;
    writer->byteCount += static_cast<int32_t>(count);
    writer->cursor += count;
}

void writeUnary(BitReader* writer, uint32_t n)
{
    for (uint32_t i = 0; i < n; i++)
        writeBit(writer, 1);
    writeBit(writer, 0);
}

int32_t bitLength(uint32_t value)
{
    int32_t n = 0;
    while (value) {
        n++;
        value >>= 1;
    }
    return n;
}
