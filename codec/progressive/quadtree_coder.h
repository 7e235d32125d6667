// Quadtree significance coder (mapCoder 2): per band either one adaptive
// Huffman symbol per 2 x 2 block or a recursive quadrant split with prefix
// codes; known-zero positions cost nothing.
#pragma once
#include <cstdint>

#include "codec/session/map_coder_state.h"

struct BitReader;
struct DecodeSession;

// A rectangle of the flag map, rows [r0, r1) x columns [c0, c1).
struct FlagRect {
    int32_t r0, r1, c0, c1;
};

// True when every flag of the rectangle is known zero (also when it is empty).
bool allKnownZero(uint8_t* const* flags, FlagRect rect);

// The band pass; arguments as for the other band passes.
void decodeQuadtreeBand(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                        int32_t height, int32_t width, int32_t L, int32_t b);

// The two modes, on a rectangle of the band's flag map.
void decodeBlockSymbols(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                        FlagRect rect);
void decodeQuadtree(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                    FlagRect rect);
