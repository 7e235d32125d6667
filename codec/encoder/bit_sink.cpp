#include "codec/encoder/bit_sink.h"

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
