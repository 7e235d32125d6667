// Writing decoded pixels into an RGB pixbuf of the picture's size.
#pragma once
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>

// A decoded picture or a partial one: rows top to bottom, RGB for colour,
// one byte per grey sample, two (low byte first) deeper than 8 bits.
struct PixelsView {
    const uint8_t* pixels;
    int32_t height;
    int32_t width;
    int32_t channels;
    int32_t bitsPerSample;
    int32_t bytesPerPixel;
};

// Fills the whole pixbuf (8-bit RGB, no alpha) from `view`, enlarging a
// smaller picture by repeating its pixels. Grey becomes equal R, G and B;
// deeper grey is scaled to 8 bits with rounding.
void fillPixbuf(GdkPixbuf* pixbuf, const PixelsView& view);

// A deep grey sample scaled to 0..255.
inline uint8_t greyTo8(uint32_t value, int32_t bitsPerSample)
{
    uint32_t top = (1u << bitsPerSample) - 1;
    return uint8_t((value * 255u * 2 + top) / (2 * top));
}
