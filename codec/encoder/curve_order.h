// The recursive quadrant curve with serpentine leaves along which one-pass map
// coder 1 and the level-progressive serpentine scan walk a band.
#pragma once
#include <cstdint>

// Calls visit(row, col) for every position of rows [r0, r1) x columns
// [c0, c1) in curve order, starting with orientation o (0..3).
template <typename Visit>
void walkCurve(int32_t o, int32_t r0, int32_t r1, int32_t c0, int32_t c1, Visit& visit)
{
    int32_t h = r1 - r0;
    int32_t w = c1 - c0;
    if (h <= 0 || w <= 0)
        return;
    if (h > 2 && w > 2) {
        int32_t m = r0 + (h >> 1);
        int32_t k = c0 + (w >> 1);
        // Quadrant (0 TL, 1 TR, 2 BL, 3 BR) and orientation of each step.
        static const int8_t kSteps[4][4][2] = {
            {{1, 3}, {3, 0}, {2, 0}, {0, 2}},
            {{2, 2}, {0, 1}, {1, 1}, {3, 3}},
            {{2, 1}, {3, 2}, {1, 2}, {0, 0}},
            {{1, 0}, {0, 3}, {2, 3}, {3, 1}},
        };
        for (int32_t i = 0; i < 4; i++) {
            int32_t q = kSteps[o][i][0];
            int32_t qr0 = q < 2 ? r0 : m, qr1 = q < 2 ? m : r1;
            int32_t qc0 = (q & 1) ? k : c0, qc1 = (q & 1) ? c1 : k;
            walkCurve(kSteps[o][i][1], qr0, qr1, qc0, qc1, visit);
        }
        return;
    }
    switch (o) {
    case 0: // columns right to left, the first one top down
        for (int32_t c = c1 - 1, down = 1; c >= c0; c--, down = !down)
            for (int32_t i = 0; i < h; i++)
                visit(down ? r0 + i : r1 - 1 - i, c);
        break;
    case 1: // columns left to right, the first one bottom up
        for (int32_t c = c0, up = 1; c < c1; c++, up = !up)
            for (int32_t i = 0; i < h; i++)
                visit(up ? r1 - 1 - i : r0 + i, c);
        break;
    case 2: // rows bottom to top, the first one left to right
        for (int32_t r = r1 - 1, right = 1; r >= r0; r--, right = !right)
            for (int32_t i = 0; i < w; i++)
                visit(r, right ? c0 + i : c1 - 1 - i);
        break;
    default: // rows top to bottom, the first one right to left
        for (int32_t r = r0, left = 1; r < r1; r++, left = !left)
            for (int32_t i = 0; i < w; i++)
                visit(r, left ? c1 - 1 - i : c0 + i);
        break;
    }
}
