// Bit writers for the encoder: the decoder's BitReader record in writer mode,
// emitting into a growable byte vector or only counting.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/core/bit_reader.h"

// A writer appending every finished byte to *out (which it does not own), or,
// with out null, one that only counts. Null when out of memory.
BitReader* createBitSink(std::vector<uint8_t>* out);
void releaseBitSink(BitReader* writer);

// Bits written so far, the partial byte included.
int64_t bitsWritten(const BitReader* writer);

// The same as writeBits(writer, 8, bytes[i]) for each of count bytes, a
// whole byte at a time: for joining separately written parts of a stream.
void writeByteRun(BitReader* writer, const uint8_t* bytes, size_t count);

// n ones followed by a zero.
void writeUnary(BitReader* writer, uint32_t n);

// Number of bits needed for value (0 for 0).
int32_t bitLength(uint32_t value);
