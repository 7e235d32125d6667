#include "codec/progressive/map_scans.h"

#include "codec/core/bit_reader.h"
#include "codec/core/geometry.h"
#include "codec/entropy/adaptive_huffman.h"
#include "codec/progressive/band_lists.h"
#include "codec/progressive/serpentine_walk.h"
#include "codec/progressive/value_coder.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstring>

namespace {

// Children of coordinate x at the next finer level, by case code.
struct ChildSpan {
    int32_t first;
    int32_t count;
};

inline ChildSpan childSpan(uint8_t code, int32_t x, bool last)
{
    switch (code) {
    case 0: return {2 * x - 1, last ? 1 : 2};
    case 1: return {2 * x - 1, 2};
    case 2: return {2 * x - 2, 2};
    case 3: return {2 * x - 2, last ? 3 : 2};
    case 4: return {2 * x, last ? 0 : 2};
    case 5: return {2 * x, last ? 1 : 2};
    default: return {0, 0};
    }
}

// Marks the sixteen children to[0..15] of eight parents known zero where the
// parent's byte of d (its flag XOR FLAG_SIGNIFICANT) is nonzero, leaving the
// others as they are. Without a branch per parent: mixed groups are
// unpredictable.
inline void markMixedChildren(uint8_t* to, uint64_t d)
{
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
        constexpr uint64_t kHigh = 0x8080808080808080ull;
        constexpr uint64_t kZeros = 0x0101010101010101ull * FLAG_KNOWN_ZERO;
        // 0xff in every byte of d that is not 0.
        const uint64_t marked = (((((d & kLow7) + kLow7) | d) & kHigh) >> 7) * 0xff;
        // Parent byte k's mask to bytes 2k and 2k + 1.
        auto twice = [](uint64_t four) {
            four = (four | (four << 16)) & 0x0000ffff0000ffffull;
            four = (four | (four << 8)) & 0x00ff00ff00ff00ffull;
            return four | (four << 8);
        };
        const uint64_t masks[2] = {twice(marked & 0xffffffffu), twice(marked >> 32)};
        for (int32_t half = 0; half < 2; half++) {
            uint64_t children;
            std::memcpy(&children, to + 8 * half, 8);
            children = (children & ~masks[half]) | (kZeros & masks[half]);
            std::memcpy(to + 8 * half, &children, 8);
        }
    } else {
        uint8_t parents[8];
        std::memcpy(parents, &d, 8);
        for (int32_t k = 0; k < 8; k++)
            if (parents[k] != 0)
                to[2 * k] = to[2 * k + 1] = FLAG_KNOWN_ZERO;
    }
}

} // namespace

void markChildren(uint8_t** flags, uint8_t* const* rowCases, uint8_t* const* columnCases, int32_t b, int32_t L,
                  int32_t row, int32_t col, int32_t endRow, int32_t endCol)
{
    ChildSpan rows = childSpan(rowCases[b][L - 1], row, row == endRow - 1);
    ChildSpan cols = childSpan(columnCases[b][L - 1], col, col == endCol - 1);
    for (int32_t i = 0; i < rows.count; i++) {
        uint8_t* line = flags[rows.first + i];
        for (int32_t j = 0; j < cols.count; j++)
            line[cols.first + j] = FLAG_KNOWN_ZERO;
    }
}

void startBandPass(MapCoderState* state, int32_t height, int32_t width, int32_t L, int32_t b, int32_t* rowStart,
                   int32_t* rowEnd, int32_t* colStart, int32_t* colEnd)
{
    if (L == 0 && state->finalLevelDirect != 0)
        state->valueCallback = state->finalValueCallback;
    bandBounds(height, width, L, b, rowStart, rowEnd, colStart, colEnd);
}

void scanRaster(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags, int32_t height,
                int32_t width, int32_t L, int32_t b)
{
    int32_t r0, r1, c0, c1;
    startBandPass(state, height, width, L, b, &r0, &r1, &c0, &c1);
    for (int32_t row = r0; row < r1; row++) {
        for (int32_t col = c0; col < c1; col++) {
            bool zero = flags[row][col] == FLAG_KNOWN_ZERO || state->valueCallback(bits, session, row, col) == 0;
            if (zero && L > 0)
                markChildren(flags, state->rowCases, state->columnCases, b, L, row, col, r1, c1);
        }
    }
}

void scanRuns(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags, int32_t height,
              int32_t width, int32_t L, int32_t b)
{
    int32_t r0, r1, c0, c1;
    startBandPass(state, height, width, L, b, &r0, &r1, &c0, &c1);

    // n counts down as 32-bit two's complement: a length of 0 read at a switch
    // leaves it negative for the rest of the band.
    uint32_t n = static_cast<uint32_t>(decodeHuffmanValue(bits, &state->mapTree));
    bool significantRun = false;
    for (int32_t row = r0; row < r1; row++) {
        for (int32_t col = c0; col < c1; col++) {
            bool significant;
            if (flags[row][col] == FLAG_KNOWN_ZERO) {
                significant = false;
            } else if (n != 0) {
                significant = significantRun;
                n--;
            } else {
                n = static_cast<uint32_t>(decodeHuffmanValue(bits, &state->mapTree));
                significantRun = !significantRun;
                significant = significantRun;
                n--;
            }
            if (significant)
                state->valueCallback(bits, session, row, col);
            else if (L > 0)
                markChildren(flags, state->rowCases, state->columnCases, b, L, row, col, r1, c1);
        }
    }
}

namespace {

// The walk's order of small rectangles, recorded once per shape and type as
// row x kSerpentineSmallSide + column and as offsets from the rectangle's
// first flag in a map whose rows lie `stride` bytes apart.
struct SmallOrders {
    static constexpr int32_t kShapes = 32;
    static constexpr int32_t kMost = kSerpentineSmallSide * kSerpentineSmallSide;
    struct Order {
        int32_t type, height, width;
        uint8_t at[kMost];
        int32_t offset[kMost]; // 0 past the last position
    };
    Order orders[kShapes];
    int32_t count = 0;
    int32_t stride = 0;

    // Null when the table is full (the caller then walks as usual).
    const Order* find(int32_t type, int32_t height, int32_t width)
    {
        for (int32_t i = 0; i < count; i++) {
            const Order& o = orders[i];
            if (o.type == type && o.height == height && o.width == width)
                return &o;
        }
        if (count == kShapes)
            return nullptr;
        Order& o = orders[count++];
        o.type = type, o.height = height, o.width = width;
        int32_t next = 0;
        auto record = [&](int32_t row, int32_t col) {
            o.at[next] = static_cast<uint8_t>(row * kSerpentineSmallSide + col);
            o.offset[next] = row * stride + col;
            next++;
        };
        SerpentineWalk<decltype(record), true> walker{record};
        walker.walk(type, 0, height, 0, width);
        for (; next < kMost; next++)
            o.offset[next] = 0;
        return &o;
    }
};

// The distance between the rows of a band's flags when every row lies that
// far from the one before it and a small rectangle's offsets fit in 32 bits
// (any distance serves a single row); 0 otherwise.
int32_t evenStride(uint8_t* const* flags, int32_t r0, int32_t r1)
{
    if (r1 - r0 < 2)
        return kSerpentineSmallSide;
    const ptrdiff_t stride = flags[r0 + 1] - flags[r0];
    if (stride <= 0 || stride > INT32_MAX / kSerpentineSmallSide)
        return 0;
    for (int32_t row = r0 + 2; row < r1; row++)
        if (flags[row] - flags[row - 1] != stride)
            return 0;
    return static_cast<int32_t>(stride);
}

// True when some position of the rectangle is untested (FLAG_UNTESTED is the
// only flag with bit 0 set).
bool anyUntested(uint8_t* const* flags, int32_t r0, int32_t r1, int32_t c0, int32_t c1)
{
    static_assert(FLAG_UNTESTED == 1 && (FLAG_SIGNIFICANT & 1) == 0 && (FLAG_KNOWN_ZERO & 1) == 0);
    constexpr uint64_t kBit0 = 0x0101010101010101ull;
    for (int32_t row = r0; row < r1; row++) {
        const uint8_t* p = flags[row] + c0;
        int32_t n = c1 - c0;
        for (; n >= 8; n -= 8, p += 8) {
            uint64_t eight;
            std::memcpy(&eight, p, 8);
            if (eight & kBit0)
                return true;
        }
        for (; n > 0; n--, p++) {
            if (*p & 1)
                return true;
        }
    }
    return false;
}

// Bit i of untested[i / 64] set when the i-th of the n positions of the
// order is untested, eight flags at a time packed in a register (stored as
// bytes and loaded back as one word, the load would stall on the stores).
// The order's offsets past n are 0, and their bits are cleared.
void gatherUntested(const uint8_t* origin, const SmallOrders::Order& order, int32_t n,
                    uint64_t untested[SmallOrders::kMost / 64])
{
    for (int32_t w = 0; w < SmallOrders::kMost / 64; w++)
        untested[w] = 0;
    const int32_t* offset = order.offset;
    for (int32_t i = 0; i < n; i += 8, offset += 8) {
        uint32_t eight = 0;
#pragma GCC unroll 8
        for (int32_t k = 0; k < 8; k++)
            eight |= (origin[offset[k]] & 1u) << k;
        untested[i >> 6] |= uint64_t{eight} << (i & 63);
    }
    if (n & 63)
        untested[n >> 6] &= (uint64_t(1) << (n & 63)) - 1;
}

// A small rectangle's untested positions in its recorded order: 0 when it
// has none, -1 when it has no recorded order (it is then walked position by
// position), else its position count, with `*order` set and their bits in
// `untested`.
inline int32_t gatherSmallRectangle(uint8_t* const* flags, SmallOrders* small, int32_t type, int32_t r0,
                                    int32_t r1, int32_t c0, int32_t c1, const SmallOrders::Order** order,
                                    uint64_t untested[SmallOrders::kMost / 64])
{
    if (!anyUntested(flags, r0, r1, c0, c1))
        return 0;
    *order = small ? small->find(type, r1 - r0, c1 - c0) : nullptr;
    if (!*order)
        return -1;
    const int32_t n = (r1 - r0) * (c1 - c0);
    gatherUntested(flags[r0] + c0, **order, n, untested);
    return n;
}

// Tests an untested position through the value callback. Small rectangles
// without an untested position are passed over whole; the others are
// visited from their recorded order, by the callback's batch where it has one.
struct SerpentineVisit {
    BitReader* bits;
    DecodeSession* session;
    MapCoderState* state;
    uint8_t** flags;
    SmallOrders* small; // null: no recorded orders (rows unevenly apart)
    ValueBatch batch;

    void operator()(int32_t row, int32_t col)
    {
        if (flags[row][col] == FLAG_UNTESTED && state->valueCallback(bits, session, row, col) != 0)
            flags[row][col] = FLAG_SIGNIFICANT;
    }

    bool coverSmall(int32_t type, int32_t r0, int32_t r1, int32_t c0, int32_t c1)
    {
        const SmallOrders::Order* order;
        uint64_t untested[SmallOrders::kMost / 64];
        const int32_t n = gatherSmallRectangle(flags, small, type, r0, r1, c0, c1, &order, untested);
        if (n <= 0)
            return n == 0;
        uint8_t* lines[kSerpentineSmallSide];
        for (int32_t i = 0; i < r1 - r0; i++)
            lines[i] = flags[r0 + i] + c0;
        const FlagRectangle rectangle{lines, order->at, untested, n, r0, c0, r1 - r0};
        if (batch)
            batch(bits, session, &rectangle);
        else
            testUntestedPositions(rectangle, [&](int32_t row, int32_t col) {
                return state->valueCallback(bits, session, r0 + row, c0 + col);
            });
        return true;
    }
};

} // namespace

void scanSerpentine(BitReader* bits, DecodeSession* session, MapCoderState* state, uint8_t** flags,
                    int32_t height, int32_t width, int32_t L, int32_t b)
{
    int32_t r0, r1, c0, c1;
    startBandPass(state, height, width, L, b, &r0, &r1, &c0, &c1);
    BandLists* lists = state->lists;
    if (lists && bandIsListed(lists)) {
        const ValueList test = valueListFor(state->valueCallback);
        while (const BandList* list = nextBandList(lists)) {
            if (test) {
                test(bits, session, list, flags);
                continue;
            }
            const ListGeometry geometry = listGeometry(list);
            for (int32_t i = 0; i < list->count; i++) {
                const int32_t row = geometry.row(list->at[i]);
                const int32_t col = geometry.col(list->at[i]);
                if (state->valueCallback(bits, session, row, col) != 0)
                    flags[row][col] = FLAG_SIGNIFICANT;
            }
        }
    } else {
        SmallOrders small;
        small.stride = evenStride(flags, r0, r1);
        SerpentineVisit visit{bits, session, state, flags, small.stride != 0 ? &small : nullptr,
                              valueBatchFor(state->valueCallback)};
        SerpentineWalk<SerpentineVisit, true> walker{visit};
        walker.walk(0, r0, r1, c0, c1);
    }
    if (L > 0 && !lists)
        markBandChildren(flags, state->rowCases, state->columnCases, b, L, r0, r1, c0, c1);
}

void markBandChildren(uint8_t** flags, uint8_t* const* rowCases, uint8_t* const* columnCases, int32_t b, int32_t L,
                      int32_t r0, int32_t r1, int32_t c0, int32_t c1)
{
    // The case codes are read at the first insignificant position, the row
    // span once per row. Every column but the last has two children at
    // 2 x col + a fixed offset.
    int32_t rowCase = -1, columnCase = -1;
    for (int32_t row = r0; row < r1; row++) {
        const uint8_t* line = flags[row];
        int32_t first = c0;
        while (first < c1 && line[first] == FLAG_SIGNIFICANT)
            first++;
        if (first == c1)
            continue;
        if (rowCase < 0) {
            rowCase = rowCases[b][L - 1];
            columnCase = columnCases[b][L - 1];
        }
        const ChildSpan rows = childSpan(static_cast<uint8_t>(rowCase), row, row == r1 - 1);
        const ChildSpan inner = childSpan(static_cast<uint8_t>(columnCase), 0, false);
        for (int32_t i = 0; i < rows.count; i++) {
            uint8_t* children = flags[rows.first + i];
            int32_t col = first;
            if (inner.count == 2) {
                // Eight parents at a time: skipped when all are significant,
                // their sixteen children marked at once when none is. A row
                // that marks its own line takes one parent at a time.
                constexpr uint64_t kOnes = 0x0101010101010101ull;
                constexpr uint64_t kAllSignificant = kOnes * FLAG_SIGNIFICANT;
                if (children != line) {
                    for (; col + 8 <= c1 - 1; col += 8) {
                        uint64_t eight;
                        std::memcpy(&eight, line + col, 8);
                        if (eight == kAllSignificant)
                            continue;
                        uint8_t* to = children + 2 * col + inner.first;
                        const uint64_t d = eight ^ kAllSignificant; // a zero byte where significant
                        if (((d - kOnes) & ~d & (kOnes << 7)) == 0) {
                            std::memset(to, FLAG_KNOWN_ZERO, 16);
                            continue;
                        }
                        markMixedChildren(to, d);
                    }
                }
                for (; col < c1 - 1; col++) {
                    if (line[col] != FLAG_SIGNIFICANT) {
                        children[2 * col + inner.first] = FLAG_KNOWN_ZERO;
                        children[2 * col + inner.first + 1] = FLAG_KNOWN_ZERO;
                    }
                }
            }
            for (; col < c1; col++) {
                if (line[col] == FLAG_SIGNIFICANT)
                    continue;
                const ChildSpan cols = childSpan(static_cast<uint8_t>(columnCase), col, col == c1 - 1);
                std::fill_n(children + cols.first, cols.count, FLAG_KNOWN_ZERO);
            }
        }
    }
}

namespace {

// Appends the untested positions in the walk's order, small rectangles from
// their recorded orders.
struct ListVisit {
    uint8_t* const* flags;
    SmallOrders* small; // null: no recorded orders
    BandList* list;
    uint16_t* out;

    void operator()(int32_t row, int32_t col)
    {
        if (flags[row][col] == FLAG_UNTESTED)
            *out++ = static_cast<uint16_t>(static_cast<uint32_t>(row - list->rowStart) << list->colBits
                                           | static_cast<uint32_t>(col - list->colStart));
    }

    bool coverSmall(int32_t type, int32_t r0, int32_t r1, int32_t c0, int32_t c1)
    {
        const SmallOrders::Order* order;
        uint64_t untested[SmallOrders::kMost / 64];
        const int32_t n = gatherSmallRectangle(flags, small, type, r0, r1, c0, c1, &order, untested);
        if (n <= 0)
            return n == 0;
        const uint32_t base = static_cast<uint32_t>(r0 - list->rowStart) << list->colBits
                              | static_cast<uint32_t>(c0 - list->colStart);
        for (int32_t first = 0; first < n; first += 64) {
            for (uint64_t left = untested[first >> 6]; left != 0; left &= left - 1) {
                const uint8_t at = order->at[first + std::countr_zero(left)];
                *out++ = static_cast<uint16_t>(base
                                               + (static_cast<uint32_t>(at / kSerpentineSmallSide) << list->colBits)
                                               + at % kSerpentineSmallSide);
            }
        }
        return true;
    }
};

// The column bits of a list of a rectangle c1 - c0 wide. Its packed positions
// stay below twice its area.
uint32_t listColumnBits(int32_t c0, int32_t c1)
{
    return c1 - c0 > 1 ? static_cast<uint32_t>(std::bit_width(static_cast<uint32_t>(c1 - c0 - 1))) : 0;
}

} // namespace

void listUntestedPositions(uint8_t* const* flags, int32_t type, int32_t r0, int32_t r1, int32_t c0, int32_t c1,
                           BandList* list)
{
    list->rowStart = r0;
    list->colStart = c0;
    list->colBits = listColumnBits(c0, c1);
    SmallOrders small;
    small.stride = evenStride(flags, r0, r1);
    ListVisit visit{flags, small.stride != 0 ? &small : nullptr, list, list->at};
    SerpentineWalk<ListVisit, true> walker{visit};
    walker.walk(type, r0, r1, c0, c1);
    list->count = static_cast<int32_t>(visit.out - list->at);
}
