// Reading and writing of pictures for the command-line tools: PNG (through
// libpng) and binary or plain PGM/PPM.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A grey or colour picture, samples interleaved row by row (R, G, B for
// colour), each 0..maxValue.
struct Image {
    int32_t height = 0;
    int32_t width = 0;
    int32_t channels = 0;     // 1 grey, 3 colour
    int32_t maxValue = 0;     // 255 for 8-bit data, 65535 for 16-bit PNG, any PNM maxval
    std::vector<uint16_t> samples;
    std::vector<uint16_t> alpha; // opacity per pixel, 0..maxValue; empty when opaque
};

// Bits needed for maxValue (8 for 255, 16 for 65535, 10 for 1023).
int32_t imageBitDepth(const Image& image);

// Reads a PNG (grey or colour, 1 to 16 bits; alpha kept apart, palettes and
// low-bit grey expanded) or a PGM/PPM (P2, P3, P5, P6), chosen by content.
// Returns false with a one-line reason in *error.
bool readImage(const std::string& path, Image* image, std::string* error);
bool readImageMemory(const uint8_t* data, size_t size, Image* image, std::string* error);

// True when path ends in `extension` (given in lower case), in any case.
bool hasExtension(const std::string& path, const char* extension);

// False, with a reason in *error, for a picture the writers cannot write:
// not grey or colour, empty, maxValue outside 1..65535, or samples missing.
bool checkImage(const Image& image, std::string* error);

// Writes by extension: .png (8 or 16 bits as maxValue needs, with alpha when
// the picture has it), .pgm, .ppm (no alpha).
bool writeImage(const std::string& path, const Image& image, std::string* error);
bool writePng(const std::string& path, const Image& image, std::string* error);

// zlib effort of a PNG: Fast for decoders' output, Small for the defaults.
enum class PngCompression { Fast, Small };

// Writes `height` rows of `width` pixels of `channels` samples (grey, grey
// and alpha, RGB, RGB and alpha; 8 bits, or 16 bits big-endian) as a PNG.
bool writePngRows(const std::string& path, int32_t height, int32_t width, int32_t channels, int32_t bitDepth,
                  const uint8_t* data, PngCompression compression, std::string* error);
bool writePnm(const std::string& path, const Image& image, std::string* error);
