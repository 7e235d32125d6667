#include "codec/recon/sharpen.h"

#include <cstring>

void sharpenPlane(Plane source, Plane destination, int32_t rows, int32_t cols, int32_t strength)
{
    (void)strength;
    if (rows <= 0 || cols <= 0)
        return;
    const size_t rowBytes = static_cast<size_t>(cols) * sizeof(int32_t);
    std::memcpy(destination[0], source[0], rowBytes);
    if (rows == 1)
        return;
    for (int32_t i = 1; i < rows - 1; i++) {
        const int32_t* up = source[i - 1];
        const int32_t* mid = source[i];
        const int32_t* down = source[i + 1];
        int32_t* out = destination[i];
        out[0] = mid[0];
        if (cols == 1)
            continue;
        int32_t left = mid[0];
        int32_t centre = mid[1];
        for (int32_t j = 1; j < cols - 1; j++) {
            int32_t right = mid[j + 1];
            out[j] = ((centre << 3) + (centre << 2) - left - right - up[j] - down[j]) >> 3;
            left = centre;
            centre = right;
        }
        out[cols - 1] = mid[cols - 1];
    }
    std::memcpy(destination[rows - 1], source[rows - 1], rowBytes);
}
