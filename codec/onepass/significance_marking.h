// Marking of significant positions in a one-pass significance map, shared by
// the three map coders.
#pragma once
#include <cstdint>

// Map codes written by the map coders.
enum : uint8_t {
    MAP_NOT_SIGNIFICANT = 1,
    MAP_SIGNIFICANT = 2,    // found explicitly by the map coder
    MAP_ANCESTOR = 4,       // significant because a finer position below it is
};

// Levels a map can have: a side of 2^31 has 28.
constexpr int32_t kMarkLevels = 32;

// Parity tables, the band being scanned and, per coarser level, its steps
// to the parent position, read by markSignificant.
struct SignificanceMarkState {
    uint8_t** rowCodes;     // rowCodes[band][level]
    uint8_t** colCodes;     // colCodes[band][level]
    int32_t levels;
    int32_t level;
    int32_t band;
    int32_t rowEnd;         // of the band being scanned
    int32_t colEnd;
    // Step i leads from level + i to level + i + 1: the parent of x is
    // (x + add - (x == last)) >> 1, where last is the band's last row or
    // column if it takes the lower parent, else -1.
    int32_t steps;
    int32_t rowAdd[kMarkLevels], rowLast[kMarkLevels];
    int32_t colAdd[kMarkLevels], colLast[kMarkLevels];
};

// Builds the parity tables for a rows x cols map of `levels` detail levels.
// No table is needed (nor made) when levels <= 0. Returns 0 when an
// allocation fails or levels exceeds kMarkLevels.
int32_t beginSignificanceMarking(SignificanceMarkState* state, int32_t rows, int32_t cols,
                                 int32_t levels);
void endSignificanceMarking(SignificanceMarkState* state);

// Records band t of level L (with its end row and column) as the one scanned.
void enterMapBand(SignificanceMarkState* state, int32_t L, int32_t t, int32_t rowEnd,
                  int32_t colEnd);

// Parent of coordinate x at the next coarser level, for parity code k and the
// band's current end e along that axis.
inline int32_t parentCoordinate(int32_t x, int32_t k, int32_t e)
{
    switch (k) {
    case 0:
    case 1: return (x + 1) >> 1;
    case 2: return (x + 2) >> 1;
    case 3: return x == e - 1 ? (x + 1) >> 1 : (x + 2) >> 1;
    default: return x >> 1;
    }
}

// Marks (r, c) of the current band significant (2) and its not yet marked
// ancestors at coarser levels with 4; stops at the first ancestor not 1.
inline void markSignificant(SignificanceMarkState* state, uint8_t** map, int32_t r, int32_t c)
{
    map[r][c] = MAP_SIGNIFICANT;
    for (int32_t i = 0; i < state->steps; i++) {
        r = (r + state->rowAdd[i] - (r == state->rowLast[i] ? 1 : 0)) >> 1;
        c = (c + state->colAdd[i] - (c == state->colLast[i] ? 1 : 0)) >> 1;
        uint8_t* at = &map[r][c];
        if (*at != MAP_NOT_SIGNIFICANT)
            return;
        *at = MAP_ANCESTOR;
    }
}
