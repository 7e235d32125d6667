// Writing decoded pixel blocks as picture files: PNG and PGM/PPM through
// image_io, BMP here, or the block's bytes as they are.
#pragma once
#include <cstdint>
#include <string>

#include "tools/image_io.h"

// A decoded pixel block: rows top to bottom, unpadded; RGB bytes for
// colour, one byte for grey up to 8 bits, two bytes (low first) deeper.
struct PixelBlock {
    const uint8_t* pixels = nullptr;
    int32_t height = 0;
    int32_t width = 0;
    int32_t channels = 0;      // 1 or 3
    int32_t bitsPerSample = 0; // 8 for colour; 8..16 for grey
};

int32_t pixelBlockBytesPerPixel(const PixelBlock& block);
size_t pixelBlockSize(const PixelBlock& block);

// The block as an Image. Deep grey keeps its values (maxValue 2^bits - 1)
// unless `fullRange`, which widens them to 16 bits by bit replication.
bool pixelBlockToImage(const PixelBlock& block, bool fullRange, Image* image, std::string* error);

// Bottom-up BMP: 24-bit for colour, 8-bit with a grey palette for grey.
// Samples deeper than 8 bits are reduced to 8.
bool writeBmp(const std::string& path, const Image& image, std::string* error);

// Picture file types: .png, .pgm, .ppm, .pnm, .bmp, and .raw for the pixel
// block's bytes as they are.
enum class PictureType { Unknown, Png, Pgm, Ppm, Pnm, Bmp, Raw };
PictureType pictureTypeOf(const std::string& path); // by extension, in any case
PictureType pictureTypeNamed(const std::string& word); // "png", "pgm", ...

// True for the picture extensions (.raw is not one).
bool isPictureName(const std::string& path);

// Writes as `type` (Unknown: by extension): .png (8 bits, or 16-bit grey for
// deep blocks), .pgm (grey; colour becomes its luma), .ppm (colour; grey is
// repeated in each channel), .pnm (either, as the block is; deep grey keeps
// its maxval), .bmp, .raw. PNG output uses zlib's fast setting unless
// `compression` asks for small files.
bool writePicture(const std::string& path, const PixelBlock& block, std::string* error,
                  PictureType type = PictureType::Unknown, PngCompression compression = PngCompression::Fast);

// Writes `size` bytes as they are.
bool writeRaw(const std::string& path, const uint8_t* data, size_t size, std::string* error);
