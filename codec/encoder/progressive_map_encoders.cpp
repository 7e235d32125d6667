#include <cstring>
#include <vector>

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/encoder/bit_sink.h"
#include "codec/encoder/curve_order.h"
#include "codec/encoder/progressive_encoder_state.h"
#include "codec/encoder/quadtree_encoder.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/progressive/map_scans.h"

namespace {

void markChildrenOf(ProgressiveEncoder* e, const BandRect& rect, int32_t b, int32_t row, int32_t col)
{
    if (e->level > 0)
        markChildren(e->flags(), e->rowCases, e->columnCases, b, e->level, row, col, rect.rowEnd,
                     rect.colEnd);
}

// Map coder 0 with value coder 0: every untested position sends its value or
// the zero symbol.
void writeRaster(ProgressiveEncoder* e, int32_t b, const BandRect& rect)
{
    uint8_t** flags = e->flags();
    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
        for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
            bool zero = flags[r][col] == FLAG_KNOWN_ZERO || !e->coded(r, col);
            if (flags[r][col] != FLAG_KNOWN_ZERO) {
                if (zero)
                    writeProgressiveZero(e);
                else
                    writeProgressiveValue(e, r, col);
            }
            if (zero)
                markChildrenOf(e, rect, b, r, col);
        }
    }
}

// Map coder 0 with value coders 1 to 3: alternating runs of zero and
// significant untested positions. A run is counted from the position at which
// its length is read; the last one is sent as 0 (it then lasts to the end).
void writeRuns(ProgressiveEncoder* e, int32_t b, const BandRect& rect)
{
    uint8_t** flags = e->flags();
    std::vector<int32_t> runs{0};
    bool significant = false;
    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
        for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
            if (flags[r][col] == FLAG_KNOWN_ZERO)
                continue;
            bool s = e->coded(r, col);
            if (s != significant) {
                runs.push_back(0);
                significant = s;
            }
            runs.back()++;
        }
    }
    size_t next = 0;
    auto send = [&] {
        int32_t value = next + 1 == runs.size() && next > 0 ? 0 : runs[next];
        encodeHuffmanValue(e->writer, e->mapTree, value);
        next++;
        return value;
    };
    int32_t n = send();
    significant = false;
    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++) {
        for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
            if (flags[r][col] == FLAG_KNOWN_ZERO) {
                markChildrenOf(e, rect, b, r, col);
                continue;
            }
            if (n == 0) {
                n = send();
                significant = !significant;
            }
            if (significant)
                writeProgressiveValue(e, r, col);
            else
                markChildrenOf(e, rect, b, r, col);
            n--;
        }
    }
}

// Map coder 1: the quadrant curve; the callback's answer decides significance.
void writeSerpentine(ProgressiveEncoder* e, int32_t b, const BandRect& rect)
{
    uint8_t** flags = e->flags();
    auto visit = [&](int32_t r, int32_t col) {
        if (flags[r][col] != FLAG_UNTESTED)
            return;
        if (e->valueCoder == 0 && !e->coded(r, col)) {
            writeProgressiveZero(e);
            return;
        }
        writeProgressiveValue(e, r, col);
        flags[r][col] = FLAG_SIGNIFICANT;
    };
    walkCurve(0, rect.rowStart, rect.rowEnd, rect.colStart, rect.colEnd, visit);
    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
        for (int32_t col = rect.colStart; col < rect.colEnd; col++)
            if (flags[r][col] != FLAG_SIGNIFICANT)
                markChildrenOf(e, rect, b, r, col);
}

struct FlagBand final : QuadtreeBand {
    ProgressiveEncoder* e;
    bool known(int32_t r, int32_t c) const override { return e->flags()[r][c] == FLAG_KNOWN_ZERO; }
    bool significant(int32_t r, int32_t c) const override
    {
        return e->flags()[r][c] != FLAG_KNOWN_ZERO && e->coded(r, c);
    }
    void settle(int32_t r, int32_t c) override
    {
        e->flags()[r][c] = FLAG_SIGNIFICANT;
        writeProgressiveValue(e, r, c);
    }
};

// Quadtree mode 1: one block-tree symbol per 2 x 2 block not wholly known.
void writeBlockSymbols(ProgressiveEncoder* e, const BandRect& rect)
{
    FlagBand band;
    band.e = e;
    for (int32_t r0 = rect.rowStart; r0 < rect.rowEnd; r0 += 2) {
        int32_t r1 = r0 + 2 < rect.rowEnd ? r0 + 2 : rect.rowEnd;
        for (int32_t c0 = rect.colStart; c0 < rect.colEnd; c0 += 2) {
            int32_t c1 = c0 + 2 < rect.colEnd ? c0 + 2 : rect.colEnd;
            if (band.allKnown(r0, r1, c0, c1))
                continue;
            int32_t symbol = 0;
            for (int32_t r = r0; r < r1; r++)
                for (int32_t c = c0; c < c1; c++)
                    symbol = symbol * 2 + band.significant(r, c);
            encodeHuffmanSymbol(e->mapTree, symbol, e->writer, 4);
            for (int32_t r = r0; r < r1; r++)
                for (int32_t c = c0; c < c1; c++)
                    if (band.significant(r, c))
                        band.settle(r, c);
        }
    }
}

void writeQuadtreeMode(ProgressiveEncoder* e, const BandRect& rect, int32_t mode)
{
    writeBit(e->writer, mode);
    if (mode == 1) {
        writeBlockSymbols(e, rect);
    } else {
        FlagBand band;
        band.e = e;
        encodeQuadtreeRect(e->writer, &band, rect.rowStart, rect.rowEnd, rect.colStart, rect.colEnd);
    }
}

bool cloneTree(const AdaptiveHuffmanTree& from, AdaptiveHuffmanTree* to)
{
    if (!initHuffmanTree(to, from.symbolCount, from.symbolCount == 2048 ? 1 : 0))
        return false;
    size_t nodes = static_cast<size_t>(2 * from.symbolCount + 3);
    std::memcpy(to->nodes, from.nodes, nodes * sizeof *from.nodes);
    std::memcpy(to->weights, from.weights, nodes * sizeof *from.weights);
    std::memcpy(to->leafOf, from.leafOf, static_cast<size_t>(from.symbolCount + 2) * sizeof *from.leafOf);
    to->nextFreeNode = from.nextFreeNode;
    return true;
}

// Bits the quadtree pass would take in `mode`, from copies of the coder
// states; the flags are restored afterwards. -1 when out of memory.
int64_t trialQuadtreeMode(ProgressiveEncoder* e, const BandRect& rect, int32_t mode)
{
    AdaptiveHuffmanTree mapCopy{}, valueCopy{};
    BitReader* counter = createBitSink(nullptr);
    bool ok = counter && cloneTree(*e->mapTree, &mapCopy)
              && (!e->valueTree || cloneTree(*e->valueTree, &valueCopy));
    int64_t bits = -1;
    if (ok) {
        std::vector<uint8_t> saved;
        uint8_t** flags = e->flags();
        for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
            saved.insert(saved.end(), flags[r] + rect.colStart, flags[r] + rect.colEnd);
        ProgressiveEncoder::State keep = e->swapState({counter, &mapCopy, e->valueTree ? &valueCopy : nullptr});
        writeQuadtreeMode(e, rect, mode);
        e->swapState(keep);
        bits = bitsWritten(counter);
        size_t i = 0;
        for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
            for (int32_t c = rect.colStart; c < rect.colEnd; c++)
                flags[r][c] = saved[i++];
    }
    if (mapCopy.nodes)
        freeHuffmanTree(&mapCopy);
    if (valueCopy.nodes)
        freeHuffmanTree(&valueCopy);
    if (counter)
        releaseBitSink(counter);
    return bits;
}

// Map coder 2: a band flag, then the cheaper of the two modes.
void writeQuadtreeBand(ProgressiveEncoder* e, int32_t b, const BandRect& rect)
{
    FlagBand band;
    band.e = e;
    bool any = band.anySignificant(rect.rowStart, rect.rowEnd, rect.colStart, rect.colEnd);
    writeBit(e->writer, any);
    if (any) {
        int64_t blocks = trialQuadtreeMode(e, rect, 1);
        int64_t tree = trialQuadtreeMode(e, rect, 0);
        if (blocks < 0 || tree < 0)
            e->ok = false;
        writeQuadtreeMode(e, rect, blocks >= 0 && blocks < tree ? 1 : 0);
    }
    uint8_t** flags = e->flags();
    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
        for (int32_t col = rect.colStart; col < rect.colEnd; col++)
            if (flags[r][col] != FLAG_SIGNIFICANT)
                markChildrenOf(e, rect, b, r, col);
}

} // namespace

void writeProgressiveBand(ProgressiveEncoder* e, int32_t b)
{
    BandRect rect = bandRect(e->plan->height, e->plan->width, e->level, b);
    switch (e->mapCoder) {
    case 0:
        if (e->valueCoder == 0)
            writeRaster(e, b, rect);
        else
            writeRuns(e, b, rect);
        break;
    case 1:
        writeSerpentine(e, b, rect);
        break;
    case 2:
        writeQuadtreeBand(e, b, rect);
        break;
    default:
        break;
    }
}
