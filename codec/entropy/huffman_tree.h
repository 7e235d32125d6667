// The adaptive Huffman tree record; its operations are in adaptive_huffman.h.
#pragma once
#include <cstdint>

struct HuffmanNode {
    int32_t parent;      // -1 for the root
    int32_t childIsLeaf; // nonzero for a leaf
    int32_t child;       // leaf: the symbol; internal: index of the first child
};

struct AdaptiveHuffmanTree {
    int32_t symbolCount;  // n; n is the end symbol, n + 1 the escape
    int32_t* leafOf;      // n + 2 entries, -1 while a symbol has no leaf
    int32_t nextFreeNode; // nodes in use, always odd
    HuffmanNode* nodes;   // 2n + 3 entries
    uint32_t* weights;    // 2n + 3 entries
};
