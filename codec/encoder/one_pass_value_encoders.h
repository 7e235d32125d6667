// Band value encoders of the one-pass mode: the signs and magnitude indexes
// of one component at one level, bands 0, 1, 2 in raster order, as the band
// value decoders of each value coder read them.
#pragma once
#include <cstdint>

#include "codec/encoder/coefficient_plan.h"

struct BitReader;

// How value coder 0 codes one level: an adaptive Huffman tree (announced by a
// nonzero escape width), the switch to the context model (a zero width), or
// the context model of a component that switched at a coarser level.
enum ValueCoder0Mode : int32_t {
    VALUE0_HUFFMAN = 0,
    VALUE0_SWITCH = 1,
    VALUE0_CONTEXT = 2,
};

// Writes the values of component c at level L. mode is used by value coder 0
// only. Returns false when out of memory.
bool encodeOnePassValues(BitReader* writer, const PicturePlan& plan, int32_t c, int32_t L,
                         int32_t valueCoder, ValueCoder0Mode mode);

// The largest symbol the level's values need (index minus one for explicit
// positions), -1 when none is coded.
int32_t largestOnePassSymbol(const PicturePlan& plan, int32_t c, int32_t L, int32_t valueCoder);
