#include "server/dither.h"

#include <utility>

#include "codec/core/alloc.h"
#include "codec/core/records.h"
#include "server/diffusion_tables.h"
#include "server/palette.h"

namespace {

// Loads one source row as three values per pixel; grey repeats its value.
void loadRow(int32_t* values, const uint8_t* row, int32_t width, uint32_t isColour, uint32_t bitsPerSample)
{
    if (isColour) {
        for (int32_t i = 0; i < 3 * width; i++)
            values[i] = row[i];
    } else if (bitsPerSample > 8) {
        uint32_t shift = bitsPerSample - 8;
        for (int32_t x = 0; x < width; x++) {
            int32_t v = static_cast<int32_t>((row[2 * x] | static_cast<uint32_t>(row[2 * x + 1]) << 8) >> shift);
            values[3 * x] = values[3 * x + 1] = values[3 * x + 2] = v;
        }
    } else {
        for (int32_t x = 0; x < width; x++)
            values[3 * x] = values[3 * x + 1] = values[3 * x + 2] = row[x];
    }
}

int32_t clampByte(int32_t v)
{
    return v > 255 ? 255 : (v < 0 ? 0 : v);
}

} // namespace

int32_t ditherFrame(const uint8_t* pixels, uint8_t* out, int32_t width, int32_t height, uint32_t isColour,
                    uint32_t bitsPerSample)
{
    if (width <= 0 || height <= 0)
        return 0;
    const uint8_t* palette = buildPaletteEntries(nullptr);
    const DiffusionTables& tables = diffusionTables();
    const int32_t* t1 = tables.t1 + DiffusionTables::kOffset;
    const int32_t* t3 = tables.t3 + DiffusionTables::kOffset;
    const int32_t* t5 = tables.t5 + DiffusionTables::kOffset;
    const int32_t* t7 = tables.t7 + DiffusionTables::kOffset;

    size_t n = 3 * static_cast<size_t>(width);
    int32_t* current = static_cast<int32_t*>(allocChecked(n * sizeof(int32_t)));
    int32_t* next = static_cast<int32_t*>(allocChecked(n * sizeof(int32_t)));
    if (!current || !next) {
        freeChecked(current);
        freeChecked(next);
        return ZR_NO_GLOBAL_MEMORY;
    }

    size_t sourceStride = static_cast<size_t>(width) * (isColour ? 3 : (bitsPerSample > 8 ? 2 : 1));
    size_t stride = (static_cast<size_t>(width) + 3) & ~static_cast<size_t>(3);
    loadRow(current, pixels, width, isColour, bitsPerSample);
    for (int32_t i = 0; i < height; i++) {
        bool lastRow = i == height - 1;
        if (!lastRow)
            loadRow(next, pixels + (i + 1) * sourceStride, width, isColour, bitsPerSample);
        uint8_t* outRow = out + static_cast<size_t>(height - 1 - i) * stride;
        for (int32_t x = 0; x < width; x++) {
            int32_t* c = current + 3 * x;
            int32_t c0 = clampByte(c[0]);
            int32_t c1 = clampByte(c[1]);
            int32_t c2 = clampByte(c[2]);
            uint8_t index = colourIndex(static_cast<uint32_t>(c0), static_cast<uint32_t>(c1), static_cast<uint32_t>(c2));
            outRow[x] = index;
            const uint8_t* entry = palette + 4 * index;
            int32_t e[3] = {c0 - entry[0], c1 - entry[1], c2 - entry[2]};
            for (int k = 0; k < 3; k++) {
                if (x < width - 1)
                    c[3 + k] += t7[e[k]];
                if (!lastRow) {
                    int32_t* below = next + 3 * x + k;
                    below[0] += t5[e[k]];
                    if (x > 0)
                        below[-3] += t3[e[k]];
                    if (x < width - 1)
                        below[3] += t1[e[k]];
                }
            }
        }
        std::swap(current, next);
    }
    freeChecked(current);
    freeChecked(next);
    return 0;
}
