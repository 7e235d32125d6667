#include "codec/entropy/adaptive_huffman.h"

#include "codec/core/alloc.h"
#include "codec/core/bit_reader.h"

namespace {

void clearTree(AdaptiveHuffmanTree* tree)
{
    tree->leafOf = nullptr;
    tree->nodes = nullptr;
    tree->weights = nullptr;
    tree->nextFreeNode = 0;
}

} // namespace

int32_t initHuffmanTree(AdaptiveHuffmanTree* tree, int32_t symbolCount, int32_t startMode)
{
    int32_t preset = startMode == 1 ? 3 : 64;
    clearTree(tree);
    tree->symbolCount = symbolCount;
    if (symbolCount < preset || symbolCount > (INT32_MAX - 3) / 2)
        return 0;
    size_t nodeCount = 2 * static_cast<size_t>(symbolCount) + 3;
    tree->nodes = static_cast<HuffmanNode*>(allocChecked(nodeCount * sizeof(HuffmanNode)));
    if (tree->nodes)
        tree->weights = static_cast<uint32_t*>(allocChecked(nodeCount * sizeof(uint32_t)));
    if (tree->weights)
        tree->leafOf = static_cast<int32_t*>(allocChecked((static_cast<size_t>(symbolCount) + 2) * sizeof(int32_t)));
    if (!tree->leafOf) {
        freeHuffmanTree(tree);
        clearTree(tree);
        return 0;
    }

    int32_t n = symbolCount;
    tree->nodes[0] = {-1, 0, 1};
    tree->weights[0] = 2;
    tree->nodes[1] = {0, 1, n};
    tree->weights[1] = 1;
    tree->nodes[2] = {0, 1, n + 1};
    tree->weights[2] = 1;
    tree->leafOf[n] = 1;
    tree->leafOf[n + 1] = 2;
    tree->nextFreeNode = 3;
    for (int32_t s = 0; s < n; s++)
        tree->leafOf[s] = -1;
    for (int32_t s = 0; s < preset; s++) {
        addHuffmanLeaf(tree, s);
        updateHuffmanTree(tree, s);
    }
    return 1;
}

void freeHuffmanTree(AdaptiveHuffmanTree* tree)
{
    if (tree->nodes)
        freeChecked(tree->nodes);
    if (tree->weights)
        freeChecked(tree->weights);
    if (tree->leafOf)
        freeChecked(tree->leafOf);
}

void swapHuffmanNodes(AdaptiveHuffmanTree* tree, int32_t i, int32_t j)
{
    HuffmanNode* nodes = tree->nodes;
    if (nodes[i].childIsLeaf) {
        tree->leafOf[nodes[i].child] = j;
    } else {
        nodes[nodes[i].child].parent = j;
        nodes[nodes[i].child + 1].parent = j;
    }
    if (nodes[j].childIsLeaf) {
        tree->leafOf[nodes[j].child] = i;
    } else {
        nodes[nodes[j].child].parent = i;
        nodes[nodes[j].child + 1].parent = i;
    }
    HuffmanNode t = nodes[i];
    nodes[i].childIsLeaf = nodes[j].childIsLeaf;
    nodes[i].child = nodes[j].child;
    nodes[j].childIsLeaf = t.childIsLeaf;
    nodes[j].child = t.child;
    uint32_t w = tree->weights[i];
    tree->weights[i] = tree->weights[j];
    tree->weights[j] = w;
}

void addHuffmanLeaf(AdaptiveHuffmanTree* tree, int32_t symbol)
{
    HuffmanNode* nodes = tree->nodes;
    int32_t lightest = tree->nextFreeNode - 1;
    int32_t moved = lightest + 1;
    int32_t added = lightest + 2;
    tree->nextFreeNode += 2;

    nodes[moved] = {lightest, nodes[lightest].childIsLeaf, nodes[lightest].child};
    tree->weights[moved] = tree->weights[lightest];
    tree->leafOf[nodes[moved].child] = moved;

    nodes[lightest].childIsLeaf = 0;
    nodes[lightest].child = moved;

    nodes[added] = {lightest, 1, symbol};
    tree->weights[added] = 0;
    tree->leafOf[symbol] = added;
}

void rebuildHuffmanTree(AdaptiveHuffmanTree* tree)
{
    HuffmanNode* nodes = tree->nodes;
    uint32_t* weights = tree->weights;
    int32_t count = tree->nextFreeNode;

    // Leaves, halved, to the top indices in their old order.
    int32_t j = count - 1;
    for (int32_t i = count - 1; i >= 0; i--) {
        if (nodes[i].childIsLeaf) {
            nodes[j] = nodes[i];
            weights[j] = (weights[i] + 1) / 2;
            j--;
        }
    }

    // Internal nodes from the bottom pair up, each below the heavier nodes.
    for (int32_t i = count - 2; j >= 0; i -= 2, j--) {
        uint32_t w = weights[i] + weights[i + 1];
        int32_t k = j + 1;
        while (k < count && weights[k] > w)
            k++;
        for (int32_t m = j + 1; m < k; m++) {
            nodes[m - 1] = nodes[m];
            weights[m - 1] = weights[m];
        }
        nodes[k - 1].childIsLeaf = 0;
        nodes[k - 1].child = i;
        weights[k - 1] = w;
    }

    for (int32_t i = count - 1; i >= 0; i--) {
        if (nodes[i].childIsLeaf) {
            tree->leafOf[nodes[i].child] = i;
        } else {
            nodes[nodes[i].child].parent = i;
            nodes[nodes[i].child + 1].parent = i;
        }
    }
    nodes[0].parent = -1;
}

void updateHuffmanTree(AdaptiveHuffmanTree* tree, int32_t symbol)
{
    uint32_t* weights = tree->weights;
    if (weights[0] == 0x80000000u)
        rebuildHuffmanTree(tree);
    // The root (node 0, parent -1) cannot move: its weight is counted after
    // the loop, unless a swap moved the path onto it.
    int32_t node = tree->leafOf[symbol];
    while (node > 0) {
        const uint32_t w = ++weights[node];
        if (weights[node - 1] < w) {
            int32_t target = node - 1;
            while (target > 0 && weights[target - 1] < w)
                target--;
            swapHuffmanNodes(tree, node, target);
            node = target;
        }
        node = tree->nodes[node].parent;
    }
    if (node == 0)
        ++weights[0];
}

int32_t decodeHuffmanSymbol(AdaptiveHuffmanTree* tree, BitReader* reader, int32_t rawBits)
{
    const HuffmanNode* nodes = tree->nodes;
    if (!nodes)
        return -1;
    // The descent reads bit by bit and stops once the data have ended. Only a
    // fetch can end them, so the bits left in the current byte are taken in a
    // tight loop and only the bit that needs a fetch goes through readBit.
    if (reader->endOfData & 1)
        return -1;
    int32_t node = 0;
    for (;;) {
        uint32_t mask = reader->mask; // 128: a fetch comes first
        if (mask != 128) {
            const uint32_t byte = reader->currentByte;
            do {
                node = nodes[node].child + ((byte & mask) != 0 ? 1 : 0);
                mask >>= 1;
            } while (mask != 0 && !nodes[node].childIsLeaf);
            reader->mask = static_cast<uint8_t>(mask != 0 ? mask : 128);
            if (nodes[node].childIsLeaf)
                break;
        }
        if (reader->endOfData & 1)
            return -1;
        node = nodes[node].child + static_cast<int32_t>(readBit(reader));
        if (nodes[node].childIsLeaf)
            break;
    }
    int32_t n = tree->symbolCount;
    int32_t symbol = nodes[node].child;
    if (symbol == n + 1) {
        int32_t v = static_cast<int32_t>(readBits(reader, rawBits));
        if (reader->endOfData & 1)
            return -1;
        if (v >= 0 && v < n) {
            // A second escape for a symbol with a leaf only comes from a corrupt
            // stream: count it, but never add a second leaf.
            if (tree->leafOf[v] == -1)
                addHuffmanLeaf(tree, v);
            updateHuffmanTree(tree, v);
        } else {
            updateHuffmanTree(tree, n + 1);
        }
        return v;
    }
    updateHuffmanTree(tree, symbol);
    return symbol;
}

int32_t decodeHuffmanValue(BitReader* reader, AdaptiveHuffmanTree* tree)
{
    // Iterative form of the nested prefix: 255^k, the innermost value, then k low
    // symbols, innermost first. A long run of prefixes cannot exhaust the stack.
    int32_t prefixes = 0;
    int32_t value;
    while ((value = decodeHuffmanSymbol(tree, reader, 8)) >= 255)
        prefixes++;
    for (; prefixes > 0; prefixes--)
        value = decodeHuffmanSymbol(tree, reader, 8) + value * 256;
    return value;
}

int32_t encodeHuffmanSymbol(AdaptiveHuffmanTree* tree, int32_t symbol, BitReader* writer, int32_t rawBits)
{
    int32_t n = tree->symbolCount;
    if (!tree->nodes || symbol < 0)
        return -1;
    int32_t leaf = symbol < n ? tree->leafOf[symbol] : -1;
    bool escaped = leaf == -1;
    if (escaped) {
        if (rawBits < 0 || rawBits > 31 || (static_cast<uint32_t>(symbol) >> rawBits) != 0)
            return -1;
        leaf = tree->leafOf[n + 1];
    }

    // The path from the leaf up, first bit collected least significant. Weights
    // stay below 2^31, which bounds the depth of a coded leaf to well under 64.
    uint64_t bits = 0;
    int32_t length = 0;
    for (int32_t node = leaf; node > 0 && length < 64; node = tree->nodes[node].parent) {
        if ((node & 1) == 0)
            bits |= uint64_t{1} << length;
        length++;
    }
    if (length > 32) {
        writeBits(writer, length - 32, static_cast<uint32_t>(bits >> 32));
        length = 32;
    }
    writeBits(writer, length, static_cast<uint32_t>(bits));

    if (symbol >= n) {
        writeBits(writer, rawBits, static_cast<uint32_t>(symbol));
        updateHuffmanTree(tree, n + 1);
    } else if (escaped) {
        writeBits(writer, rawBits, static_cast<uint32_t>(symbol));
        addHuffmanLeaf(tree, symbol);
        updateHuffmanTree(tree, symbol);
    } else {
        updateHuffmanTree(tree, symbol);
    }
    return 0;
}

int32_t encodeHuffmanValue(BitReader* writer, AdaptiveHuffmanTree* tree, int32_t value)
{
    if (value < 0)
        return -1;
    if (value < 255)
        return encodeHuffmanSymbol(tree, value, writer, 8);
    int32_t result = encodeHuffmanSymbol(tree, 255, writer, 8);
    if (result == 0)
        result = encodeHuffmanValue(writer, tree, value / 256);
    if (result == 0)
        result = encodeHuffmanSymbol(tree, value % 256, writer, 8);
    return result;
}
