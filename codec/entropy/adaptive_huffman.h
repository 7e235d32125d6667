// Adaptive Huffman coder over a small alphabet that grows through escapes.
#pragma once
#include <cstdint>

#include "codec/entropy/huffman_tree.h"

struct BitReader;

// Builds the start tree for n symbols: start mode 1 pre-adds 0, 1 and 2 (n >= 3),
// any other mode pre-adds 0..63 (n >= 64). Returns 1 on success; 0 when an
// allocation failed (or n is too small for the mode): the tree then holds null
// tables and no nodes, must not be used, and freeHuffmanTree on it is harmless.
int32_t initHuffmanTree(AdaptiveHuffmanTree* tree, int32_t symbolCount, int32_t startMode);
// Releases the tables that are present; does not clear the pointers.
void freeHuffmanTree(AdaptiveHuffmanTree* tree);

// Decodes one symbol (0..n, the end symbol n included) or an escaped raw value of
// rawBits bits (0..31). Returns -1, with the tree unchanged, when the data end
// before a leaf is reached or inside the raw bits, or when the tree is unusable.
int32_t decodeHuffmanSymbol(AdaptiveHuffmanTree* tree, BitReader* reader, int32_t rawBits);
// Decodes a value of any size (tree of 256 symbols, raw width 8): symbols below
// 255 are the value; 255 prefixes a high part (itself a value) and a low symbol.
int32_t decodeHuffmanValue(BitReader* reader, AdaptiveHuffmanTree* tree);

// Encoder side. Returns 0 once the symbol is written; -1, with nothing written
// and the tree unchanged, when it cannot be coded (negative, or an escape whose
// raw value does not fit in rawBits).
int32_t encodeHuffmanSymbol(AdaptiveHuffmanTree* tree, int32_t symbol, BitReader* writer, int32_t rawBits);
// Writes what decodeHuffmanValue reads back as value (>= 0); -1 for a negative value.
int32_t encodeHuffmanValue(BitReader* writer, AdaptiveHuffmanTree* tree, int32_t value);

// Tree maintenance, shared by both sides.
void updateHuffmanTree(AdaptiveHuffmanTree* tree, int32_t symbol);
void rebuildHuffmanTree(AdaptiveHuffmanTree* tree);
void swapHuffmanNodes(AdaptiveHuffmanTree* tree, int32_t i, int32_t j);
void addHuffmanLeaf(AdaptiveHuffmanTree* tree, int32_t symbol);
