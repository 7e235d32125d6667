// The level-progressive significance-map coder object.
#pragma once
#include <cstdint>

#include "codec/entropy/huffman_tree.h"

struct BitReader;
struct DecodeSession;
struct BandLists;

// Reads one coefficient's value at (row, col) of the level's compacted layout
// and adds it into the picture; nonzero when a value was added.
typedef int32_t (*ValueCallback)(BitReader* bits, DecodeSession* session, int32_t row, int32_t col);

struct MapCoderState {
    int32_t finalLevelDirect;
    AdaptiveHuffmanTree mapTree;
    uint8_t** rowCases;     // rowCases[band][level]
    uint8_t** columnCases;  // columnCases[band][level]
    ValueCallback valueCallback;
    ValueCallback finalValueCallback;
    // With a reconstruction thread and the serpentine scan: the positions
    // listed there ahead of the passes (band_lists.h); null otherwise.
    BandLists* lists;
};
