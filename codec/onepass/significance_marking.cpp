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
    if (levels <= 0)
        return 1;
    return makeBandParityTables(&state->rowCodes, &state->colCodes, rows, cols, levels);
}

void endSignificanceMarking(SignificanceMarkState* state)
{
    if (state->rowCodes)
        freeBandParityTables(state->rowCodes, state->colCodes);
    state->rowCodes = nullptr;
    state->colCodes = nullptr;
}

void enterMapBand(SignificanceMarkState* state, int32_t L, int32_t t, int32_t rowEnd,
                  int32_t colEnd)
{
    state->level = L;
    state->band = t;
    state->rowEnd = rowEnd;
    state->colEnd = colEnd;
}

void markSignificant(SignificanceMarkState* state, uint8_t** map, int32_t r, int32_t c)
{
    map[r][c] = MAP_SIGNIFICANT;
    int32_t er = state->rowEnd;
    int32_t ec = state->colEnd;
    for (int32_t k = state->level + 1; k < state->levels; k++) {
        r = parentCoordinate(r, state->rowCodes[state->band][k - 1], er);
        c = parentCoordinate(c, state->colCodes[state->band][k - 1], ec);
        if (map[r][c] != MAP_NOT_SIGNIFICANT)
            return;
        map[r][c] = MAP_ANCESTOR;
        er = (er >> 1) + 1;
        ec = (ec >> 1) + 1;
    }
}
