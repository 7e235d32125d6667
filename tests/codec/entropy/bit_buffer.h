// Bit writer into a growing byte vector and reader over finished bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/core/bit_reader.h"
#include "tests/support/bit_stream.h"

struct BitBuffer {
    std::vector<uint8_t> bytes;
    BitReader* writer = nullptr;
    BitReader* reader = nullptr;

    BitBuffer()
    {
        writer = createBitReader(0);
        attachByteSource(writer, appendByte, &bytes);
    }
    ~BitBuffer()
    {
        releaseBitReader(writer);
        releaseBitReader(reader);
    }
    BitBuffer(const BitBuffer&) = delete;
    BitBuffer& operator=(const BitBuffer&) = delete;

    // Bits written so far, the unfinished byte included.
    int64_t bitsWritten() const { return static_cast<int64_t>(bytes.size()) * 8 + bitsPassed(writer->mask); }

    // Finishes the written bits and reads them back from the start; keepBytes
    // (when >= 0) truncates the data first.
    BitReader* read(int64_t keepBytes = -1)
    {
        flushBitWriter(writer);
        if (keepBytes >= 0 && keepBytes < static_cast<int64_t>(bytes.size()))
            bytes.resize(static_cast<size_t>(keepBytes));
        releaseBitReader(reader);
        reader = createMemoryReader(bytes);
        return reader;
    }

    // Bits the reader has consumed.
    int64_t bitsRead() const { return bitsTaken(reader); }
};
