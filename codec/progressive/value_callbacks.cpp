// The sixteen value callbacks: four magnitude syntaxes x plain/fine quantiser
// x plane/8-bit target, instantiated from one template, and for each a batch
// that tests a small rectangle of a map scan with the callback inlined.
#include "codec/core/bit_reader.h"
#include "codec/core/force_inline.h"
#include "codec/session/session.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/entropy/context_model.h"
#include "codec/entropy/context_run.h"
#include "codec/entropy/context_step.h"
#include "codec/progressive/map_scans.h"
#include "codec/progressive/serpentine_walk.h"
#include "codec/progressive/value_coder.h"
#include "codec/recon/recon_queue.h"
#include "codec/synth/level_grid.h"
#include "codec/synth/synthesis_kernels.h"

namespace {

enum Syntax { CONTEXT_MODEL = 0, HUFFMAN = 1, UNARY = 2, FIXED_WIDTH = 3 };

// Reads sign and magnitude index; false when the position is not significant.
// A batch decodes the context model's symbols on its run (null otherwise).
template <int S>
ZR_INLINE bool readSignAndIndex(BitReader* bits, ValueCoderState* state, ContextRun* run, bool* negative,
                                int32_t* J)
{
    if constexpr (S == CONTEXT_MODEL) {
        int32_t s = run ? decodeRunValue(run) : decodeContextValueInline(bits, state->valueModel);
        if (s == 0)
            return false;
        *J = indexOfSymbol(s);
        *negative = (s & 1) != 0;
    } else {
        *negative = readBit(bits) != 0;
        if constexpr (S == HUFFMAN) {
            *J = decodeHuffmanSymbol(&state->valueTree, bits, state->escapeWidth);
        } else if constexpr (S == UNARY) {
            *J = readUnary(bits);
        } else {
            *J = static_cast<int32_t>(readBits(bits, state->escapeWidth));
        }
    }
    return true;
}

// Adds a value into the picture. Kept out of line: the symbol loops around
// the callbacks keep their registers, and the synthesis kernels are shared.
template <bool PIXELS>
ZR_NOINLINE void addValue(ValueCoderState* state, int32_t V, int32_t row, int32_t col)
{
    if constexpr (PIXELS) {
        if (state->componentCount == 1)
            addCoefficientGray8(state->targetPixels, V, state->levelHeight, state->levelWidth, state->lowHeight,
                                state->lowWidth, state->currentBand, row, col);
        else
            addCoefficientColourPixels(state->targetPixelPlanes, state->componentIndex, 3, V, state->levelHeight,
                                       state->levelWidth, state->lowHeight, state->lowWidth, state->currentBand,
                                       row, col);
    } else {
        if (state->componentCount == 1)
            addPlaneBandValue(state->planeBand, V, row, col);
        else
            addCoefficientColourPlanes(state->targetPlanes, state->componentIndex, 3, V, state->levelHeight,
                                       state->levelWidth, state->lowHeight, state->lowWidth, state->currentBand,
                                       row, col);
    }
}

// What a value callback reads from the session for every value, the same
// for all positions of a band. A batch or list reads it once: after each flag
// or count store the compiler would read the session again.
struct BandTarget {
    Dequantiser dequantiser;
    int32_t* grids[3]; // where the level's values gather; grids[0] null: they do not
    int32_t component;
    int32_t components;
    int32_t levelWidth;
    ReconQueue* recon;
};

template <bool FINE, bool PIXELS>
ZR_INLINE BandTarget bandTarget(const DecodeSession* session)
{
    const ValueCoderState* state = &session->valueCoderState;
    BandTarget target;
    target.dequantiser = valueDequantiser(state, FINE, PIXELS || state->currentLevel < 2);
    for (int32_t p = 0; p < 3; p++)
        target.grids[p] = state->grids[p];
    target.component = state->componentIndex;
    target.components = state->componentCount;
    target.levelWidth = state->levelWidth;
    target.recon = session->recon;
    return target;
}

template <int S, bool FINE, bool PIXELS>
ZR_INLINE int32_t testPosition(BitReader* bits, DecodeSession* session, const BandTarget& target, ContextRun* run,
                               int32_t row, int32_t col)
{
    ValueCoderState* state = &session->valueCoderState;
    bool negative = false;
    int32_t J = 0;
    if (!readSignAndIndex<S>(bits, state, run, &negative, &J))
        return 0;

    int32_t V = dequantiseMagnitude(&target.dequantiser, J);
    if (negative)
        V = static_cast<int32_t>(0u - static_cast<uint32_t>(V));
    // A run with a table has not re-attached since the data ended (attaching
    // after the end leaves it without one), and its common steps read no
    // further than the data: the reader's flag is then still clear.
    if ((!run || !run->table) && (bits->endOfData & 1))
        return 0;

    // Grids are filled on this thread also when a reconstruction thread
    // runs: that costs about what queueing the value would.
    if (!PIXELS && target.grids[0]) {
        addColourGridValue(target.grids, target.component, target.components, target.levelWidth, row, col, V);
        return 1;
    }
    if (target.recon) {
        queueReconValue(target.recon, V, row, col);
        return 1;
    }
    addValue<PIXELS>(state, V, row, col);
    return 1;
}

template <int S, bool FINE, bool PIXELS>
int32_t valueCallback(BitReader* bits, DecodeSession* session, int32_t row, int32_t col)
{
    return testPosition<S, FINE, PIXELS>(bits, session, bandTarget<FINE, PIXELS>(session), nullptr, row, col);
}

template <int S, bool FINE, bool PIXELS>
void valueBatch(BitReader* bits, DecodeSession* session, const FlagRectangle* rectangle)
{
    // The context model's registers and bits stay in locals for the batch:
    // the run is only copied in and out, never passed by address, so that
    // its fields can live in registers.
    ContextRun run{};
    if constexpr (S == CONTEXT_MODEL)
        setRun(&run, attachContextRun(bits, session->valueCoderState.valueModel));
    ContextRun* runOrNull = S == CONTEXT_MODEL ? &run : nullptr;
    const BandTarget target = bandTarget<FINE, PIXELS>(session);
    const int32_t row0 = rectangle->row;
    const int32_t col0 = rectangle->col;
    if (!PIXELS && target.grids[0])
        prefetchGridRows(target.grids, target.components, target.levelWidth, row0, col0, rectangle->rows);
    testUntestedPositions(*rectangle, [&](int32_t row, int32_t col) ZR_INLINE_LAMBDA {
        return testPosition<S, FINE, PIXELS>(bits, session, target, runOrNull, row0 + row, col0 + col);
    });
    if constexpr (S == CONTEXT_MODEL)
        detachContextRun(ContextRun(run));
}

// valueList for the context model with a reconstruction thread: the symbols
// go to the worker as they are, with the list's positions, and it makes the
// values. This thread keeps only the model, the queue and the flags; level
// 0's flags are never read again (its positions have no children), so there
// it skips them.
template <bool FLAGS>
void queueSymbolList(BitReader* bits, DecodeSession* session, const BandList* list, uint8_t** flags,
                     const Dequantiser& dequantiser)
{
    ReconQueue* recon = session->recon;
    queueReconSymbolForm(recon, ReconSymbolForm{dequantiser, list->rowStart, list->colStart, list->colBits});
    ContextRun run{};
    setRun(&run, attachContextRun(bits, session->valueCoderState.valueModel));
    const ListGeometry geometry = listGeometry(list);
    const uint16_t* end = list->at + list->count;
    for (const uint16_t* at = list->at; at != end; at++) {
        const int32_t s = decodeRunValue(&run);
        // As testPosition: a run without a table may have read past the data.
        if (s == 0 || (!run.table && (bits->endOfData & 1)))
            continue;
        const uint32_t position = *at;
        queueReconSymbol(recon, s, position);
        if (FLAGS)
            flags[geometry.row(position)][geometry.col(position)] = FLAG_SIGNIFICANT;
    }
    detachContextRun(ContextRun(run));
}

template <int S, bool FINE, bool PIXELS>
void valueList(BitReader* bits, DecodeSession* session, const BandList* list, uint8_t** flags)
{
    const BandTarget target = bandTarget<FINE, PIXELS>(session);
    if constexpr (S == CONTEXT_MODEL) {
        if (target.recon) {
            if (session->valueCoderState.currentLevel > 0)
                queueSymbolList<true>(bits, session, list, flags, target.dequantiser);
            else
                queueSymbolList<false>(bits, session, list, flags, target.dequantiser);
            return;
        }
    }
    ContextRun run{};
    if constexpr (S == CONTEXT_MODEL)
        setRun(&run, attachContextRun(bits, session->valueCoderState.valueModel));
    ContextRun* runOrNull = S == CONTEXT_MODEL ? &run : nullptr;
    const ListGeometry geometry = listGeometry(list);
    const uint16_t* end = list->at + list->count;
    for (const uint16_t* at = list->at; at != end; at++) {
        const int32_t row = geometry.row(*at);
        const int32_t col = geometry.col(*at);
        if (testPosition<S, FINE, PIXELS>(bits, session, target, runOrNull, row, col) != 0)
            flags[row][col] = FLAG_SIGNIFICANT;
    }
    if constexpr (S == CONTEXT_MODEL)
        detachContextRun(ContextRun(run));
}

struct CallbackPair {
    ValueCallback callback;
    ValueBatch batch;
    ValueList list;
};

template <int S, bool FINE, bool PIXELS>
constexpr CallbackPair pair()
{
    return {valueCallback<S, FINE, PIXELS>, valueBatch<S, FINE, PIXELS>, valueList<S, FINE, PIXELS>};
}

// [pixels][valueCoder][fine]
constexpr CallbackPair kCallbacks[2][4][2] = {
    {
        {pair<CONTEXT_MODEL, false, false>(), pair<CONTEXT_MODEL, true, false>()},
        {pair<HUFFMAN, false, false>(), pair<HUFFMAN, true, false>()},
        {pair<UNARY, false, false>(), pair<UNARY, true, false>()},
        {pair<FIXED_WIDTH, false, false>(), pair<FIXED_WIDTH, true, false>()},
    },
    {
        {pair<CONTEXT_MODEL, false, true>(), pair<CONTEXT_MODEL, true, true>()},
        {pair<HUFFMAN, false, true>(), pair<HUFFMAN, true, true>()},
        {pair<UNARY, false, true>(), pair<UNARY, true, true>()},
        {pair<FIXED_WIDTH, false, true>(), pair<FIXED_WIDTH, true, true>()},
    },
};

ValueCallback selectCallback(bool pixels, int32_t valueCoder, int32_t fine)
{
    if (valueCoder < 0 || valueCoder > 3)
        return nullptr;
    return kCallbacks[pixels ? 1 : 0][valueCoder][fine ? 1 : 0].callback;
}

} // namespace

ValueCallback planeValueCallback(int32_t valueCoder, int32_t fine)
{
    return selectCallback(false, valueCoder, fine);
}

ValueCallback pixelValueCallback(int32_t valueCoder, int32_t fine)
{
    return selectCallback(true, valueCoder, fine);
}

namespace {

const CallbackPair* pairOf(ValueCallback callback)
{
    for (const auto& byCoder : kCallbacks)
        for (const auto& byFine : byCoder)
            for (const CallbackPair& entry : byFine)
                if (callback && entry.callback == callback)
                    return &entry;
    return nullptr;
}

} // namespace

ValueBatch valueBatchFor(ValueCallback callback)
{
    const CallbackPair* entry = pairOf(callback);
    return entry ? entry->batch : nullptr;
}

ValueList valueListFor(ValueCallback callback)
{
    const CallbackPair* entry = pairOf(callback);
    return entry ? entry->list : nullptr;
}
