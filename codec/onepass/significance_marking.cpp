#include "codec/onepass/significance_marking.h"

#include "codec/core/geometry.h"

int32_t beginSignificanceMarking(SignificanceMarkState* state, int32_t rows, int32_t cols,
                                 int32_t levels)
{
    state->rowCodes = nullptr;
    state->colCodes = nullptr;
    state->levels = levels;
    state->level = 0;
    state->band = 0;
    state->rowEnd = 0;
    state->colEnd = 0;
    state->steps = 0;
    if (levels <= 0)
        return 1;
    if (levels > kMarkLevels)
        return 0;
    return makeBandParityTables(&state->rowCodes, &state->colCodes, rows, cols, levels);
}

void endSignificanceMarking(SignificanceMarkState* state)
{
    if (state->rowCodes)
        freeBandParityTables(state->rowCodes, state->colCodes);
    state->rowCodes = nullptr;
    state->colCodes = nullptr;
}

namespace {

// parentCoordinate's code k as an addend and whether the band's last
// coordinate e - 1 takes one less.
void parentStep(int32_t k, int32_t e, int32_t* add, int32_t* last)
{
    *add = k <= 1 ? 1 : k <= 3 ? 2 : 0;
    *last = k == 3 ? e - 1 : -1;
}

} // namespace

void enterMapBand(SignificanceMarkState* state, int32_t L, int32_t t, int32_t rowEnd,
                  int32_t colEnd)
{
    state->level = L;
    state->band = t;
    state->rowEnd = rowEnd;
    state->colEnd = colEnd;
    state->steps = 0;
    int32_t er = rowEnd;
    int32_t ec = colEnd;
    for (int32_t k = L + 1; k < state->levels; k++) {
        int32_t i = state->steps++;
        parentStep(state->rowCodes[t][k - 1], er, &state->rowAdd[i], &state->rowLast[i]);
        parentStep(state->colCodes[t][k - 1], ec, &state->colAdd[i], &state->colLast[i]);
        er = (er >> 1) + 1;
        ec = (ec >> 1) + 1;
    }
}
