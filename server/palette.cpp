#include "server/palette.h"

namespace {

constexpr uint8_t kNoCollapse = 4;

uint8_t serverPalette[256 * 4];
bool serverPaletteBuilt = false;

void buildTable(uint8_t* out, bool paletteOrder)
{
    for (uint32_t i = 0; i < 256; i++) {
        uint8_t red = redGreenLevelValue(i >> 5);
        uint8_t green = redGreenLevelValue((i >> 2) & 7);
        uint8_t blue = blueLevelValue(i & 3);
        uint8_t* entry = out + 4 * i;
        entry[0] = paletteOrder ? red : blue;
        entry[1] = green;
        entry[2] = paletteOrder ? blue : red;
        entry[3] = paletteOrder ? kNoCollapse : 0;
    }
}

} // namespace

uint8_t* buildPaletteEntries(uint8_t* buffer)
{
    if (!buffer) {
        if (!serverPaletteBuilt) {
            buildTable(serverPalette, true);
            serverPaletteBuilt = true;
        }
        return serverPalette;
    }
    buildTable(buffer, true);
    return buffer;
}

uint8_t* buildColourTable(uint8_t* buffer)
{
    if (buffer)
        buildTable(buffer, false);
    return buffer;
}
