#include "codec/onepass/band_value_decoders.h"

#include "codec/core/alloc.h"
#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"
#include "codec/onepass/map_bytes.h"
#include "codec/core/dequantiser.h"
#include "codec/core/force_inline.h"
#include "codec/recon/recon_queue.h"
#include "codec/synth/level_grid.h"
#include "codec/synth/synthesis_kernels.h"

#include <bit>

namespace {

enum Mode { HUFFMAN, CONTEXT, UNARY, FIXED };

// readBits(reader, n), inline where the bits lie in the current byte and at
// most one more: the same bits, the same state after, and 0 when the data end
// inside them.
ZR_INLINE uint32_t readShortBits(BitReader* reader, int n)
{
    const unsigned mask = reader->mask;
    const int left = mask == 128 ? 0 : std::bit_width(mask);
    const uint32_t current = reader->currentByte;
    if (n < left) {
        reader->mask = static_cast<uint8_t>(mask >> n);
        return (current >> (left - n)) & ((1u << n) - 1u);
    }
    const int rest = n - left;
    if (n == 0 || rest > 8)
        return readBits(reader, n);
    const uint32_t high = current & ((1u << left) - 1u);
    reader->mask = 128;
    if (rest == 0)
        return high;
    if (!fetchReaderByte(reader))
        return 0;
    reader->mask = static_cast<uint8_t>(128u >> rest);
    if (rest == 8)
        reader->mask = 128;
    return (high << rest) | ((reader->currentByte >> (8 - rest)) & ((1u << rest) - 1u));
}

struct ValueCall {
    const BandValueArgs* a;
    int32_t level;
    int32_t levelHeight, levelWidth, lowHeight, lowWidth;
    Dequantiser quant;
    Mode mode;
    int32_t escapeWidth;
    AdaptiveHuffmanTree tree;
    ContextModel* model;
};

inline int32_t negate(int32_t v)
{
    return static_cast<int32_t>(0u - static_cast<uint32_t>(v));
}

// Chroma detail is coded at half the scale of the chroma planes, which a
// plane target of grey or low-memory decoding takes on its own.
inline bool scalesChroma(const BandValueArgs* a)
{
    return a->components == 1 || a->halfSize;
}

template <bool EightBit>
void queueBandTarget(const ValueCall* call, int32_t band)
{
    const BandValueArgs* a = call->a;
    CoefficientTarget target{};
    target.toPixels = EightBit;
    if (EightBit || !scalesChroma(a)) {
        target.planes = a->planes;
        target.pixelPlanes = a->pixelPlanes;
        target.component = a->component;
        target.components = a->components;
    } else {
        target.planes = a->planes + a->component;
        target.component = 0;
        target.components = 1;
    }
    target.levelHeight = call->levelHeight;
    target.levelWidth = call->levelWidth;
    target.lowHeight = call->lowHeight;
    target.lowWidth = call->lowWidth;
    target.band = band;
    queueReconTarget(a->recon, target);
}

template <bool EightBit>
inline void placeValue(const ValueCall* call, int32_t band, int32_t row, int32_t col, int32_t v)
{
    const BandValueArgs* a = call->a;
    const int32_t c = a->component;
    if (!EightBit && a->grids) {
        if (scalesChroma(a))
            addGridValue(a->grids[c], call->levelWidth, row, col,
                         c == 0 ? v : static_cast<int32_t>(2u * static_cast<uint32_t>(v)));
        else
            addColourGridValue(a->grids, c, a->components, call->levelWidth, row, col, v);
        return;
    }
    if (a->recon) {
        const bool doubled = !EightBit && scalesChroma(a) && c != 0;
        queueReconValue(a->recon, doubled ? static_cast<int32_t>(2u * static_cast<uint32_t>(v)) : v, row, col);
        return;
    }
    if (EightBit) {
        if (a->components == 1)
            addCoefficientGray8(a->pixelPlanes[c], v, call->levelHeight, call->levelWidth,
                                call->lowHeight, call->lowWidth, band, row, col);
        else
            addCoefficientColourPixels(a->pixelPlanes, c, a->components, v, call->levelHeight,
                                       call->levelWidth, call->lowHeight, call->lowWidth, band,
                                       row, col);
    } else if (scalesChroma(a)) {
        int32_t w = c == 0 ? v : static_cast<int32_t>(2u * static_cast<uint32_t>(v));
        addCoefficientPlane(a->planes[c], w, call->levelHeight, call->levelWidth, call->lowHeight,
                            call->lowWidth, band, row, col);
    } else {
        addCoefficientColourPlanes(a->planes, c, a->components, v, call->levelHeight,
                                   call->levelWidth, call->lowHeight, call->lowWidth, band, row,
                                   col);
    }
}

// Value coder 0 decides per component and level between the Huffman coder
// and the context model; once a component reads a zero width it stays with
// the context model for all finer levels.
int32_t beginValueCoder0(ValueCall* call)
{
    BitReader* bits = call->a->bits;
    int32_t* switchLevel = call->a->switchLevel;
    if (*switchLevel <= call->level) {
        call->escapeWidth = static_cast<int32_t>(readBits(bits, 5));
        if (call->escapeWidth != 0) {
            call->mode = HUFFMAN;
            return initHuffmanTree(&call->tree, 2048, 1);
        }
        *switchLevel = call->level;
    }
    call->mode = CONTEXT;
    call->model = createContextModel(call->a->budget);
    if (!call->model)
        return 0;
    // Sign pass: codes 2 and 4 become 3 and 5 for a negative value.
    uint8_t** map = call->a->map;
    for (int32_t band = 0; band < 3; band++) {
        BandRect b = bandRect(call->a->height, call->a->width, call->level, band);
        for (int32_t r = b.rowStart; r < b.rowEnd; r++)
            for (int32_t c = b.colStart; c < b.colEnd; c++)
                if (map[r][c] & 6)
                    map[r][c] = static_cast<uint8_t>(map[r][c] + readBit(bits));
    }
    startContextDecoder(0, bits, call->model);
    return 1;
}

// Sign and magnitude index of one position; false when it is not significant.
template <Mode M>
inline bool readValue(ValueCall* call, uint8_t code, bool* negative, int32_t* J)
{
    BitReader* bits = call->a->bits;
    if constexpr (M == HUFFMAN) {
        // Value coder 0 tests code & 6, value coder 1 code != 1; the maps
        // they see hold only 1, 2 and 4, for which both agree.
        if (!(code & 6))
            return false;
        *negative = readBit(bits) != 0;
        *J = static_cast<int32_t>(static_cast<uint32_t>(
                 decodeHuffmanSymbol(&call->tree, bits, call->escapeWidth))
                 + ((code & 2) ? 1u : 0u));
        return true;
    } else if constexpr (M == CONTEXT) {
        if (code == 1)
            return false;
        *negative = code == 3 || code == 5;
        // A marker symbol (-1, -2) from a corrupt stream is used as it comes.
        *J = decodeContextSymbol(bits, call->model) + (code == 2 || code == 3);
        return true;
    } else if constexpr (M == UNARY) {
        if (code == 1)
            return false;
        *negative = readBit(bits) != 0;
        *J = static_cast<int32_t>(static_cast<uint32_t>(readUnary(bits)) + (code == 2 ? 1u : 0u));
        return true;
    } else {
        if (code == 1)
            return false;
        const int32_t width = call->escapeWidth;
        if (width < 31) {
            // Sign and magnitude in one read; at the end of data neither is used.
            const uint32_t signAndJ = readShortBits(bits, width + 1);
            *negative = (signAndJ >> width) != 0;
            *J = static_cast<int32_t>(signAndJ & ((1u << width) - 1u));
            return true;
        }
        *negative = readBit(bits) != 0;
        *J = static_cast<int32_t>(readBits(bits, width));
        return true;
    }
}

// Reads and adds the values of the three bands, stopping at the end of data.
template <Mode M, bool EightBit>
void decodeBands(ValueCall* call)
{
    const BandValueArgs* a = call->a;
    BitReader* bits = a->bits;
    for (int32_t band = 0; band < 3 && !(bits->endOfData & 1); band++) {
        BandRect b = bandRect(a->height, a->width, call->level, band);
        if (a->recon)
            queueBandTarget<EightBit>(call, band);
        for (int32_t r = b.rowStart; r < b.rowEnd; r++) {
            const uint8_t* mapRow = a->map[r];
            // False once the data have ended: nothing decoded after the end is added.
            auto position = [&](int32_t c) ZR_INLINE_LAMBDA {
                bool negative = false;
                int32_t J = 0;
                if (!readValue<M>(call, mapRow[c], &negative, &J))
                    return true;
                int32_t v = dequantiseMagnitude(&call->quant, J);
                if (negative)
                    v = negate(v);
                if (bits->endOfData & 1)
                    return false;
                placeValue<EightBit>(call, band, r, c, v);
                return true;
            };
            int32_t c = b.colStart;
            // Every coder passes over code 1 without reading, so runs of it are skipped.
            if constexpr (kMapBytes8) {
                for (; b.colEnd - c >= 8; c += 8)
                    for (uint64_t others = otherBytes8(mapRow + c); others != 0; others &= others - 1)
                        if (!position(c + firstFlaggedByte(others)))
                            return;
            }
            for (; c < b.colEnd; c++)
                if (!position(c))
                    return;
        }
    }
}

template <int ValueCoder, bool EightBit, bool Fine>
int32_t decodeBandValuesMember(const BandValueArgs* a)
{
    ValueCall call{};
    call.a = a;
    call.level = EightBit ? 0 : a->level;
    bandBounds(a->height, a->width, call.level, 2, &call.lowHeight, &call.levelHeight,
               &call.lowWidth, &call.levelWidth);
    call.quant = makeDequantiser(a->quantStep, a->exactSteps, call.level, Fine, a->magnitudeBoost,
                                 a->fineSteps, ValueCoder == 2);
    BitReader* bits = a->bits;

    int32_t ok = 1;
    switch (ValueCoder) {
    case 0:
        ok = beginValueCoder0(&call);
        break;
    case 1:
        call.mode = HUFFMAN;
        ok = initHuffmanTree(&call.tree, 2048, 1);
        call.escapeWidth = static_cast<int32_t>(readBits(bits, 5));
        break;
    case 2:
        call.mode = UNARY;
        break;
    default:
        call.mode = FIXED;
        call.escapeWidth = static_cast<int32_t>(readBits(bits, 5));
        break;
    }
    if (!ok)
        return 0;

    switch (call.mode) {
    case HUFFMAN: decodeBands<HUFFMAN, EightBit>(&call); break;
    case CONTEXT: decodeBands<CONTEXT, EightBit>(&call); break;
    case UNARY: decodeBands<UNARY, EightBit>(&call); break;
    default: decodeBands<FIXED, EightBit>(&call); break;
    }
    if (call.mode == CONTEXT)
        endContextDecoder(bits, call.model);
    else if (call.mode == HUFFMAN)
        freeHuffmanTree(&call.tree);
    return 1;
}

template <int ValueCoder>
BandValueDecoder member(int32_t eightBitTarget, int32_t fine)
{
    if (eightBitTarget)
        return fine ? decodeBandValuesMember<ValueCoder, true, true>
                    : decodeBandValuesMember<ValueCoder, true, false>;
    return fine ? decodeBandValuesMember<ValueCoder, false, true>
                : decodeBandValuesMember<ValueCoder, false, false>;
}

} // namespace

BandValueDecoder selectBandValueDecoder(int32_t valueCoder, int32_t eightBitTarget, int32_t fine)
{
    switch (valueCoder) {
    case 0: return member<0>(eightBitTarget, fine);
    case 1: return member<1>(eightBitTarget, fine);
    case 2: return member<2>(eightBitTarget, fine);
    default: return member<3>(eightBitTarget, fine);
    }
}
