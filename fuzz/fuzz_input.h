// Helpers shared by the fuzz targets: taking settings off the front of the
// input, the decode options they choose, a memory-mode bit reader over the
// rest, and the allocation limit.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/core/alloc.h"
#include "codec/core/bit_reader.h"
#include "codec/core/records.h"

// Declared pictures beyond this are refused quickly instead of exhausting
// the machine; every target sets it before its first decode. Decoding work
// grows with the declared area (every level is expanded, every map scanned),
// so the limit also bounds the time per input: under the sanitizers the
// slowest 64 KiB inputs for the largest pictures it admits (about 740 x 740
// colour, 65535 x 8 colour, 2000 x 2000 grey at half size) take under 1 s.
constexpr size_t kFuzzAllocLimit = size_t{8} << 20;

inline void limitAllocations(size_t bytes = kFuzzAllocLimit)
{
    static const bool done = (setAllocLimit(bytes), true);
    (void)done;
}

// Reads settings from the front of the fuzzer's input; missing bytes read 0.
struct FuzzInput {
    const uint8_t* data;
    size_t size;

    uint8_t byte()
    {
        if (size == 0)
            return 0;
        uint8_t b = *data++;
        size--;
        return b;
    }
    uint32_t word()
    {
        uint32_t w = byte();
        w = w << 8 | byte();
        w = w << 8 | byte();
        return w << 8 | byte();
    }
};

// A bit reader over a memory block the caller keeps alive.
inline BitReader* readerOver(const uint8_t* data, size_t size)
{
    BitReader* reader = createBitReader(0);
    if (!reader)
        return nullptr;
    reader->buffer = const_cast<uint8_t*>(data);
    resetBitReader(reader);
    reader->byteCount = static_cast<int32_t>(size);
    return reader;
}

// The decode options of a settings byte: bit 0 exactSteps, bit 1 halfSize,
// bits 2-3 the sharpen field (only 1 switches sharpening on).
inline DecodeOptions decodeOptionsFrom(uint8_t settings)
{
    DecodeOptions options{};
    options.exactSteps = settings & 1;
    options.halfSize = (settings >> 1) & 1;
    options.sharpen = (settings >> 2) & 3;
    return options;
}
