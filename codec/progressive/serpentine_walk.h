// The visiting order of the serpentine map scan: a recursive quadrant walk
// whose leaves (rectangles 1 or 2 wide or high) are visited as serpentines.
// Square blocks of 8 and 4 are visited from orders the same walk records at
// compile time, which saves the recursion where most of it happens.
#pragma once
#include <array>
#include <cstdint>
#include <utility>

// Recorded visiting orders of square blocks (defined below the walk).
template <bool Enabled>
struct BlockOrders;

constexpr int32_t kSerpentineSmallSide = 16;

// A rectangle of the walk and the type it is walked with.
struct SerpentinePart {
    int32_t type, r0, r1, c0, c1;
};

// The four quadrants a rectangle of the walk is split into, in the walk's
// order, for a rectangle the walk splits (sides above 2, not a recorded block,
// not taken over whole by the visitor).
constexpr std::array<SerpentinePart, 4> serpentineQuadrants(const SerpentinePart& p)
{
    const int32_t m = p.r0 + ((p.r1 - p.r0) >> 1);
    const int32_t k = p.c0 + ((p.c1 - p.c0) >> 1);
    const SerpentinePart tl{0, p.r0, m, p.c0, k}, tr{0, p.r0, m, k, p.c1};
    const SerpentinePart bl{0, m, p.r1, p.c0, k}, br{0, m, p.r1, k, p.c1};
    auto as = [](SerpentinePart q, int32_t type) {
        q.type = type;
        return q;
    };
    switch (p.type) {
    case 0: return {as(tr, 3), as(br, 0), as(bl, 0), as(tl, 2)};
    case 1: return {as(bl, 2), as(tl, 1), as(tr, 1), as(br, 3)};
    case 2: return {as(bl, 1), as(br, 2), as(tr, 2), as(tl, 0)};
    default: return {as(tr, 0), as(tl, 3), as(bl, 3), as(br, 1)};
    }
}

template <class Visit, bool UseBlockOrders>
struct SerpentineWalk {
    Visit& visit; // visit(row, col)

    // One line of a leaf, from `from` to `to` inclusive in either direction.
    constexpr void column(int32_t col, int32_t from, int32_t to)
    {
        const int32_t step = from <= to ? 1 : -1;
        for (int32_t row = from;; row += step) {
            visit(row, col);
            if (row == to)
                break;
        }
    }

    constexpr void row(int32_t line, int32_t from, int32_t to)
    {
        const int32_t step = from <= to ? 1 : -1;
        for (int32_t col = from;; col += step) {
            visit(line, col);
            if (col == to)
                break;
        }
    }

    // Leaf: lines alternate direction, the first as the type says.
    constexpr void serpentine(int32_t type, int32_t r0, int32_t r1, int32_t c0, int32_t c1)
    {
        int32_t first = r0, last = r1 - 1; // of types 0 and 1; 2 and 3 run over columns
        switch (type) {
        case 0: // columns right to left, first one top to bottom
            for (int32_t col = c1 - 1; col >= c0; col--, std::swap(first, last))
                column(col, first, last);
            break;
        case 1: // columns left to right, first one bottom to top
            std::swap(first, last);
            for (int32_t col = c0; col < c1; col++, std::swap(first, last))
                column(col, first, last);
            break;
        case 2: // rows bottom to top, first one left to right
            first = c0, last = c1 - 1;
            for (int32_t line = r1 - 1; line >= r0; line--, std::swap(first, last))
                row(line, first, last);
            break;
        default: // rows top to bottom, first one right to left
            first = c1 - 1, last = c0;
            for (int32_t line = r0; line < r1; line++, std::swap(first, last))
                row(line, first, last);
            break;
        }
    }

    template <int32_t N>
    constexpr void block(const std::array<uint8_t, N * N>& order, int32_t r0, int32_t c0)
    {
        for (uint8_t at : order)
            visit(r0 + at / N, c0 + at % N);
    }

    constexpr void walk(int32_t type, int32_t r0, int32_t r1, int32_t c0, int32_t c1)
    {
        // A visitor may take over whole small rectangles (at most
        // kSerpentineSmallSide a side), visiting them in this walk's order.
        if constexpr (requires { visit.coverSmall(type, r0, r1, c0, c1); }) {
            if (r1 - r0 <= kSerpentineSmallSide && c1 - c0 <= kSerpentineSmallSide
                && visit.coverSmall(type, r0, r1, c0, c1))
                return;
        }
        if (c1 - c0 <= 2 || r1 - r0 <= 2) {
            serpentine(type, r0, r1, c0, c1);
            return;
        }
        if constexpr (UseBlockOrders) {
            if (r1 - r0 == 8 && c1 - c0 == 8) {
                block<8>(BlockOrders<UseBlockOrders>::eight[type], r0, c0);
                return;
            }
            if (r1 - r0 == 4 && c1 - c0 == 4) {
                block<4>(BlockOrders<UseBlockOrders>::four[type], r0, c0);
                return;
            }
        }
#pragma GCC unroll 4
        for (const SerpentinePart& q : serpentineQuadrants({type, r0, r1, c0, c1}))
            walk(q.type, q.r0, q.r1, q.c0, q.c1);
    }
};

// Orders of the N x N block for the four types, as row x N + column.
template <int32_t N>
constexpr std::array<std::array<uint8_t, N * N>, 4> recordBlockOrders()
{
    std::array<std::array<uint8_t, N * N>, 4> orders{};
    for (int32_t type = 0; type < 4; type++) {
        int32_t next = 0;
        auto record = [&](int32_t row, int32_t col) { orders[type][next++] = static_cast<uint8_t>(row * N + col); };
        SerpentineWalk<decltype(record), false> walker{record};
        walker.walk(type, 0, N, 0, N);
    }
    return orders;
}

template <>
struct BlockOrders<true> {
    static constexpr auto eight = recordBlockOrders<8>();
    static constexpr auto four = recordBlockOrders<4>();
};

