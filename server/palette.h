// The fixed 3-3-2 palette: red and green in eight levels, blue in four.
#pragma once
#include <cstdint>

// Index of the palette entry whose levels are the top bits of each channel.
inline uint8_t colourIndex(uint32_t red, uint32_t green, uint32_t blue)
{
    return static_cast<uint8_t>((red & 0xE0) | ((green >> 5) << 2) | (blue >> 6));
}

// Channel values of the levels: red and green 0-7, blue 0-3.
inline uint8_t redGreenLevelValue(uint32_t level)
{
    return static_cast<uint8_t>((level * 8160 + 112) / 224);
}

inline uint8_t blueLevelValue(uint32_t level)
{
    return static_cast<uint8_t>((level * 16320 + 96) / 192);
}

// 256 entries of red, green, blue and flags byte 4. A null buffer means the
// server's own table, built on first use and then returned as it is.
uint8_t* buildPaletteEntries(uint8_t* buffer);

// 256 entries of blue, green, red and a reserved 0 byte; null in, null out.
uint8_t* buildColourTable(uint8_t* buffer);
