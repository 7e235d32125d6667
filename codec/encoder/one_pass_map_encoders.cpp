#include "codec/encoder/one_pass_map_encoders.h"

#include <vector>

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/encoder/curve_order.h"
#include "codec/encoder/quadtree_encoder.h"
#include "codec/entropy/adaptive_huffman.h"

namespace {

enum : uint8_t { NOT_CODED = 1, EXPLICIT = 2, ANCESTOR = 4 };

// Run lengths between explicit positions, counting the positions the decoder
// counts (those not already marked as ancestors), in visiting order.
struct RunCollector {
    const std::vector<uint8_t>* codes;
    int32_t width;
    std::vector<int32_t> runs{0};

    void operator()(int32_t r, int32_t c)
    {
        uint8_t code = (*codes)[static_cast<size_t>(r) * width + c];
        if (code == ANCESTOR)
            return;
        if (code == EXPLICIT)
            runs.push_back(0);
        else
            runs.back()++;
    }
};

bool writeRuns(BitReader* writer, const std::vector<int32_t>& runs)
{
    AdaptiveHuffmanTree tree;
    if (!initHuffmanTree(&tree, 256, 0))
        return false;
    for (int32_t run : runs)
        encodeHuffmanValue(writer, &tree, run);
    freeHuffmanTree(&tree);
    return true;
}

struct MapBand final : QuadtreeBand {
    const std::vector<uint8_t>* codes;
    int32_t width;
    uint8_t at(int32_t r, int32_t c) const { return (*codes)[static_cast<size_t>(r) * width + c]; }
    bool known(int32_t r, int32_t c) const override { return at(r, c) == ANCESTOR; }
    bool significant(int32_t r, int32_t c) const override { return at(r, c) == EXPLICIT; }
    void settle(int32_t, int32_t) override {}
};

} // namespace

bool encodeSignificanceMap(BitReader* writer, const PicturePlan& plan, int32_t c, int32_t mapCoder)
{
    const ComponentPlan& cp = plan.component[c];
    int32_t first = cp.mapLevel;
    if (mapCoder == 0 || mapCoder == 1) {
        RunCollector collect{&cp.mapCode, plan.width};
        for (int32_t L = first; L < plan.levels; L++) {
            static const int32_t kBands[2][3] = {{0, 2, 1}, {1, 2, 0}};
            static const int32_t kOrientations[2][3] = {{3, 0, 0}, {1, 2, 2}};
            int32_t parity = (L - first) & 1;
            for (int32_t i = 0; i < 3; i++) {
                int32_t t = mapCoder == 0 ? i : kBands[parity][i];
                BandRect rect = bandRect(plan.height, plan.width, L, t);
                if (mapCoder == 0) {
                    for (int32_t r = rect.rowStart; r < rect.rowEnd; r++)
                        for (int32_t col = rect.colStart; col < rect.colEnd; col++)
                            collect(r, col);
                } else {
                    walkCurve(kOrientations[parity][i], rect.rowStart, rect.rowEnd, rect.colStart,
                              rect.colEnd, collect);
                }
            }
        }
        return writeRuns(writer, collect.runs);
    }
    if (mapCoder == 2) {
        MapBand band;
        band.codes = &cp.mapCode;
        band.width = plan.width;
        for (int32_t L = first; L < plan.levels; L++) {
            for (int32_t t = 0; t < 3; t++) {
                BandRect rect = bandRect(plan.height, plan.width, L, t);
                bool any = band.anySignificant(rect.rowStart, rect.rowEnd, rect.colStart, rect.colEnd);
                writeBit(writer, any);
                if (any)
                    encodeQuadtreeRect(writer, &band, rect.rowStart, rect.rowEnd, rect.colStart,
                                       rect.colEnd);
            }
        }
    }
    return true;
}
