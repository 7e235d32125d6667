// The adaptive Huffman decoder on its own: the three alphabets the decoder
// uses, symbols and prefixed values, with the tree checked afterwards.
//
// Input: one settings byte, then the coded bits.
//   bits 0-1  0: values, n = 256 (run lengths)     1: symbols, n = 256, raw 8
//             2: symbols, n = 64, raw 4 (blocks)   3: symbols, n = 2048, start mode 1
//   bits 2-6  raw width for n = 2048
//   bit 7     n = 2048: read a fresh 5-bit raw width before every symbol
#include <cstdlib>

#include "codec/entropy/adaptive_huffman.h"
#include "fuzz_input.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The tree must still be a consistent Huffman tree: weights not increasing
// with the index, internal weights the sum of their children, parent links
// and leafOf pointing both ways.
void checkTree(const AdaptiveHuffmanTree* tree)
{
    const HuffmanNode* nodes = tree->nodes;
    int32_t count = tree->nextFreeNode;
    int32_t n = tree->symbolCount;
    check(count >= 3 && count % 2 == 1 && count <= 2 * n + 3);
    check(nodes[0].parent == -1);
    for (int32_t i = 0; i < count; i++) {
        if (i + 1 < count)
            check(tree->weights[i] >= tree->weights[i + 1]);
        if (nodes[i].childIsLeaf) {
            check(nodes[i].child >= 0 && nodes[i].child <= n + 1);
            check(tree->leafOf[nodes[i].child] == i);
        } else {
            int32_t c = nodes[i].child;
            check(c > i && c % 2 == 1 && c + 1 < count);
            check(nodes[c].parent == i && nodes[c + 1].parent == i);
            check(tree->weights[i] == tree->weights[c] + tree->weights[c + 1]);
        }
    }
    for (int32_t s = 0; s <= n + 1; s++) {
        int32_t leaf = tree->leafOf[s];
        check(leaf >= -1 && leaf < count);
        if (leaf >= 0)
            check(nodes[leaf].childIsLeaf && nodes[leaf].child == s);
    }
    check(tree->leafOf[n] >= 0 && tree->leafOf[n + 1] >= 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    limitAllocations();
    FuzzInput in{data, size};
    uint8_t settings = in.byte();
    int32_t kind = settings & 3;
    int32_t symbolCount = kind == 3 ? 2048 : (kind == 2 ? 64 : 256);
    int32_t rawBits = kind == 3 ? (settings >> 2) & 31 : (kind == 2 ? 4 : 8);
    bool freshWidths = kind == 3 && (settings & 0x80);

    AdaptiveHuffmanTree tree;
    if (!initHuffmanTree(&tree, symbolCount, kind == 3 ? 1 : 0))
        return 0;
    BitReader* reader = readerOver(in.data, in.size);
    if (!reader) {
        freeHuffmanTree(&tree);
        return 0;
    }

    // Every symbol takes at least one bit, so the data bound the loop.
    while (!(reader->endOfData & 1)) {
        if (kind == 0) {
            decodeHuffmanValue(reader, &tree);
            continue;
        }
        if (freshWidths)
            rawBits = static_cast<int32_t>(readBits(reader, 5));
        int32_t symbol = decodeHuffmanSymbol(&tree, reader, rawBits);
        if (symbol == -1)
            continue;
        // A leaf's symbol (0..n) or an escaped raw value.
        check(symbol >= 0 && (symbol <= symbolCount || (static_cast<uint32_t>(symbol) >> rawBits) == 0));
    }
    checkTree(&tree);

    releaseBitReader(reader);
    freeHuffmanTree(&tree);
    return 0;
}
