// Bit writer into a growing byte vector and reader over finished bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/core/bit_reader.h"

struct BitBuffer {
    std::vector<uint8_t> bytes;
    BitReader* writer = nullptr;
    BitReader* reader = nullptr;

    BitBuffer()
    {
        writer = createBitReader(0);
        attachByteSource(writer, &BitBuffer::sink, &bytes);
    }
    ~BitBuffer()
    {
        releaseBitReader(writer);
        releaseBitReader(reader);
    }
    BitBuffer(const BitBuffer&) = delete;
    BitBuffer& operator=(const BitBuffer&) = delete;

    static int32_t sink(void* context, uint32_t* slot)
    {
        static_cast<std::vector<uint8_t>*>(context)->push_back(static_cast<uint8_t>(*slot));
        return 0;
    }

    // Bits written so far, the unfinished byte included.
    int64_t bitsWritten() const
    {
        int64_t partial = 0;
        for (uint8_t m = 128; m != writer->mask; m >>= 1)
            partial++;
        return static_cast<int64_t>(bytes.size()) * 8 + partial;
    }

    // Finishes the written bits and reads them back from the start; keepBytes
    // (when >= 0) truncates the data first.
    BitReader* read(int64_t keepBytes = -1)
    {
        flushBitWriter(writer);
        if (keepBytes >= 0 && keepBytes < static_cast<int64_t>(bytes.size()))
            bytes.resize(static_cast<size_t>(keepBytes));
        releaseBitReader(reader);
        reader = createBitReader(0);
        reader->buffer = bytes.data();
        resetBitReader(reader);
        reader->byteCount = static_cast<int32_t>(bytes.size());
        return reader;
    }

    // Bits the reader has consumed.
    int64_t bitsRead() const
    {
        int64_t taken = static_cast<int64_t>(reader->cursor - reinterpret_cast<uintptr_t>(reader->buffer)) * 8;
        if (reader->mask == 128)
            return taken;
        int64_t left = 0;
        for (uint8_t m = reader->mask; m != 0; m >>= 1)
            left++;
        return taken - left;
    }
};
