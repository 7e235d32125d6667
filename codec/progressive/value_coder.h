// Level-progressive value coders: per component and level a start and an end
// step, per band a band step, and per significant coefficient a value
// callback that reads, dequantises and adds the value into the picture.
#pragma once
#include <bit>
#include <cstdint>

#include "codec/core/array2d.h"
#include "codec/core/dequantiser.h"
#include "codec/core/force_inline.h"
#include "codec/progressive/map_scans.h"
#include "codec/progressive/serpentine_walk.h"
#include "codec/session/map_coder_state.h"
#include "codec/session/value_coder_state.h"

struct BitReader;
struct DecodeSession;
struct ValueCoderState;

// Starts the member selected by session->valueCoder for component c of one
// level: reads its start data and fills session->valueCoderState. Returns 1,
// or 0 (status 8 set, nothing left to end) when its tree or model cannot be
// allocated. pixelPlanes may be null.
int32_t startValueCoder(BitReader* bits, DecodeSession* session, Plane* planes, PixelRows* pixelPlanes,
                        int32_t height, int32_t width, int32_t c, int32_t components, uint32_t quantStep,
                        int32_t magnitudeBoost, int32_t fineSteps, uint32_t exactSteps);

// Makes band b of level L current; band 0 refreshes the level geometry.
void startBand(DecodeSession* session, int32_t L, int32_t b);

// Reads the end data of the member and releases its tree or model.
void endValueCoder(BitReader* bits, DecodeSession* session);

// The sixteen value callbacks: valueCoder 0..3, plain or fine quantiser,
// plane target or 8-bit target. Null for a valueCoder outside 0..3.
ValueCallback planeValueCallback(int32_t valueCoder, int32_t fine);
ValueCallback pixelValueCallback(int32_t valueCoder, int32_t fine);

// A small rectangle of a map scan, tested position by position in a given
// order: its flag rows from its first column, the order as row x 16 + column
// offsets, which positions of the order are still untested (bit i of word
// i / 64 for the i-th, count bits in all), the rectangle's origin in the
// band and its height.
struct FlagRectangle {
    uint8_t* const* lines;
    const uint8_t* order;
    const uint64_t* untested;
    int32_t count;
    int32_t row;
    int32_t col;
    int32_t rows;
};

// Calls test(row, col) at the rectangle's untested positions in its order,
// row and col counted from its origin, and flags a position significant
// where test returns nonzero.
template <class Test>
ZR_INLINE void testUntestedPositions(const FlagRectangle& rectangle, Test&& test)
{
    // In locals: the flag stores may alias the rectangle.
    uint8_t* const* lines = rectangle.lines;
    const uint8_t* order = rectangle.order;
    const uint64_t* untested = rectangle.untested;
    const int32_t count = rectangle.count;
    for (int32_t first = 0; first < count; first += 64) {
        for (uint64_t left = untested[first >> 6]; left != 0; left &= left - 1) {
            const uint8_t at = order[first + std::countr_zero(left)];
            const int32_t row = at / kSerpentineSmallSide;
            const int32_t col = at % kSerpentineSmallSide;
            if (test(row, col) != 0)
                lines[row][col] = FLAG_SIGNIFICANT;
        }
    }
}

// Calls the value callback at every untested position of the rectangle in
// its order and flags the significant ones, with the callback inlined.
typedef void (*ValueBatch)(BitReader* bits, DecodeSession* session, const FlagRectangle* rectangle);
// The batch of one of the sixteen callbacks; null for any other function.
ValueBatch valueBatchFor(ValueCallback callback);

// Tests the listed positions in order and flags the significant ones, with
// the callback inlined.
typedef void (*ValueList)(BitReader* bits, DecodeSession* session, const BandList* list, uint8_t** flags);
// The list test of one of the sixteen callbacks; null for any other function.
ValueList valueListFor(ValueCallback callback);

// The dequantiser of the current band's values. `near` holds for the 8-bit
// target and for plane levels below 2: exact steps and the boost apply near
// the finest level only.
ZR_INLINE Dequantiser valueDequantiser(const ValueCoderState* state, int32_t fine, int32_t near)
{
    Dequantiser d{};
    d.quantStep = state->quantStep;
    d.fineStep = state->fineStep;
    d.fineCount = state->fineCount;
    d.fine = fine;
    d.exact = state->exactSteps != 0 && near;
    d.boost = near && state->exactSteps == 0 ? state->magnitudeBoost : 0;
    return d;
}

// Reconstruction magnitude of index J (before the sign).
ZR_INLINE int32_t reconstructMagnitude(const ValueCoderState* state, int32_t J, int32_t fine, int32_t near)
{
    const Dequantiser d = valueDequantiser(state, fine, near);
    return dequantiseMagnitude(&d, J);
}
