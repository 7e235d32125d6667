// 16-bit arithmetic coder with underflow handling. Its registers live in the
// ContextModel record (context_model.h), which drives it step by step.
#pragma once
#include <cstdint>

struct BitReader;
struct ContextModel;

// One coding step: the interval [lowCount, highCount) out of scale (< 16384).
struct SymbolRange {
    uint16_t lowCount;
    uint16_t highCount;
    uint16_t scale;
};

// Decoder: reads the first 16 bits into code.
void startArithmeticDecoder(BitReader* reader, ContextModel* model);
// The count that code falls on; within [0, scale) for a consistent stream.
int16_t currentCount(const SymbolRange* range, const ContextModel* model);
// Narrows to the range and shifts in the bits that became settled.
void removeSymbol(BitReader* reader, const SymbolRange* range, ContextModel* model);

// Encoder: narrows to the range and shifts out settled bits.
void startArithmeticEncoder(ContextModel* model);
void encodeRange(BitReader* writer, const SymbolRange* range, ContextModel* model);
// Closes a segment: the interval's last bits, 16 zero bits and a single 1 bit.
void flushArithmeticEncoder(BitReader* writer, ContextModel* model);
