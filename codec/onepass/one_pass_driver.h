// The one-pass driver (decodeMode 0): lowest bands, one significance map per
// component, then the detail values level by level, coarsest first.
#pragma once
#include <cstdint>

#include "codec/core/array2d.h"

struct BitReader;
struct DecodeSession;

// Decodes a decodeMode 0 stream into the session's planes (or, in low-memory
// mode, the pixels). Returns 0 after an allocation failure (status 8), else 1.
// A stream that ends early still yields a whole picture: the remaining levels
// are expanded without detail.
int32_t decodeOnePass(DecodeSession* session);

// Map coder 0, 1 or 2 over a rows x cols map of mapLevels detail levels;
// mapCoder 3 decodes nothing. Returns 0 on an allocation failure, else 1.
int32_t decodeSignificanceMap(BitReader* bits, uint8_t** map, int32_t rows, int32_t cols,
                              int32_t mapLevels, int32_t mapCoder);

// The level loop: expands every level (sharpening component 0 before the
// last one when asked) and adds the detail of each component at the levels
// its map covers, until the data end. Returns 0 on an allocation failure of a
// value coder (status 8), else 1.
int32_t decodeDetailLevels(DecodeSession* session, uint8_t*** maps, const int32_t* mapLevel);
