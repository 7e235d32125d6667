#include "codec/core/colour_transform.h"

#include "codec/core/geometry.h"

int32_t truncateToInt32(double value)
{
    // The transform's results stay far inside this range; the bounds only make
    // the conversion defined for any input (NaN gives 0).
    if (!(value == value))
        return 0;
    if (value >= 9223372036854775807.0)
        return static_cast<int32_t>(static_cast<uint32_t>(UINT64_C(0x7fffffffffffffff)));
    if (value <= -9223372036854775808.0)
        return 0;
    int64_t whole = static_cast<int64_t>(value);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

void colourTransform(Plane* planes, int32_t height, int32_t width, int32_t levels)
{
    int32_t rows = levelSize(height, levels);
    int32_t cols = levelSize(width, levels);
    Plane p0 = planes[0];
    Plane p1 = planes[1];
    Plane p2 = planes[2];
    for (int32_t i = 0; i < rows; i++) {
        int32_t* r0 = p0[i];
        int32_t* r1 = p1[i];
        int32_t* r2 = p2[i];
        for (int32_t j = 0; j < cols; j++) {
            int32_t y = r0[j];
            int32_t u = r1[j];
            int32_t v = r2[j];
            // Y + U and Y - U wrap in 32 bits. Every operand below has at most
            // 37 significant bits, so double arithmetic is exact.
            int32_t yPlusU = static_cast<int32_t>(static_cast<uint32_t>(y) + static_cast<uint32_t>(u));
            int32_t yMinusU = static_cast<int32_t>(static_cast<uint32_t>(y) - static_cast<uint32_t>(u));
            double fy = y, fu = u, fv = v;
            r0[j] = truncateToInt32(static_cast<double>(yPlusU) + 0.625 * fv);
            r1[j] = truncateToInt32((fy - 0.25 * fu) - 0.625 * fv);
            r2[j] = truncateToInt32(static_cast<double>(yMinusU) + 1.75 * fv);
        }
    }
}
