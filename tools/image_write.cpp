#include "tools/image_write.h"

#include <cstdio>
#include <vector>

namespace {

bool fail(std::string* error, const std::string& message)
{
    if (error)
        *error = message;
    return false;
}

void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// Writes `header` and then `size` bytes of `data`.
bool writeBytesAfter(const std::string& path, const std::string& header, const uint8_t* data, size_t size,
                     std::string* error)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return fail(error, "cannot create " + path);
    bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    ok = ok && (size == 0 || std::fwrite(data, 1, size, file) == size);
    if (std::fclose(file) != 0)
        ok = false;
    return ok ? true : fail(error, "cannot write " + path);
}

bool writeBytes(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    return writeBytesAfter(path, std::string(), data, size, error);
}

} // namespace

int32_t pixelBlockBytesPerPixel(const PixelBlock& block)
{
    if (block.channels == 3)
        return 3;
    return block.bitsPerSample > 8 ? 2 : 1;
}

size_t pixelBlockSize(const PixelBlock& block)
{
    if (block.height <= 0 || block.width <= 0)
        return 0;
    return size_t(block.height) * size_t(block.width) * size_t(pixelBlockBytesPerPixel(block));
}

bool pixelBlockToImage(const PixelBlock& block, bool fullRange, Image* image, std::string* error)
{
    if (!block.pixels || block.height <= 0 || block.width <= 0 || (block.channels != 1 && block.channels != 3)
        || block.bitsPerSample < 1 || block.bitsPerSample > 16 || (block.channels == 3 && block.bitsPerSample != 8))
        return fail(error, "no picture to write");
    image->height = block.height;
    image->width = block.width;
    image->channels = block.channels;
    size_t count = size_t(block.height) * size_t(block.width) * size_t(block.channels);
    image->samples.resize(count);
    if (pixelBlockBytesPerPixel(block) == 2) {
        int32_t bits = block.bitsPerSample;
        for (size_t i = 0; i < count; i++) {
            uint32_t v = uint32_t(block.pixels[2 * i]) | uint32_t(block.pixels[2 * i + 1]) << 8;
            if (fullRange && bits < 16)
                v = (v << (16 - bits) | v >> (2 * bits - 16)) & 0xFFFF;
            image->samples[i] = uint16_t(v);
        }
        image->maxValue = fullRange ? 65535 : (1 << bits) - 1;
    } else {
        for (size_t i = 0; i < count; i++)
            image->samples[i] = block.pixels[i];
        image->maxValue = 255;
    }
    return true;
}

bool writeBmp(const std::string& path, const Image& image, std::string* error)
{
    if (!checkImage(image, error))
        return false;
    uint64_t stride = (uint64_t(image.width) * uint64_t(image.channels) + 3) & ~uint64_t(3);
    uint32_t paletteBytes = image.channels == 1 ? 256 * 4 : 0;
    uint32_t offset = 14 + 40 + paletteBytes;
    uint64_t imageBytes = stride * uint64_t(image.height);
    if (imageBytes + offset > 0x7FFFFFFF)
        return fail(error, path + ": picture too large for BMP");

    std::vector<uint8_t> out;
    out.reserve(size_t(offset + imageBytes));
    out.push_back('B');
    out.push_back('M');
    put32(out, uint32_t(offset + imageBytes));
    put32(out, 0);
    put32(out, offset);
    put32(out, 40);
    put32(out, uint32_t(image.width));
    put32(out, uint32_t(image.height)); // positive: bottom-up rows
    put16(out, 1);
    put16(out, uint16_t(image.channels * 8));
    put32(out, 0); // no compression
    put32(out, uint32_t(imageBytes));
    put32(out, 2835); // 72 dpi
    put32(out, 2835);
    put32(out, image.channels == 1 ? 256 : 0);
    put32(out, 0);
    if (image.channels == 1)
        for (uint32_t i = 0; i < 256; i++)
            put32(out, i << 16 | i << 8 | i);

    uint32_t maxValue = uint32_t(image.maxValue);
    auto to8 = [maxValue](uint16_t v) {
        return maxValue == 255 ? uint8_t(v) : uint8_t((uint32_t(v) * 255 + maxValue / 2) / maxValue);
    };
    size_t rowSamples = size_t(image.width) * size_t(image.channels);
    for (int32_t y = image.height - 1; y >= 0; y--) {
        const uint16_t* row = image.samples.data() + size_t(y) * rowSamples;
        size_t start = out.size();
        if (image.channels == 3) {
            for (int32_t x = 0; x < image.width; x++) {
                out.push_back(to8(row[3 * x + 2]));
                out.push_back(to8(row[3 * x + 1]));
                out.push_back(to8(row[3 * x]));
            }
        } else {
            for (int32_t x = 0; x < image.width; x++)
                out.push_back(to8(row[x]));
        }
        while (out.size() - start < stride)
            out.push_back(0);
    }
    return writeBytes(path, out.data(), out.size(), error);
}

bool isPictureName(const std::string& path)
{
    return hasExtension(path, ".png") || hasExtension(path, ".pgm") || hasExtension(path, ".ppm") || hasExtension(path, ".bmp");
}

bool writePicture(const std::string& path, const PixelBlock& block, std::string* error, PngCompression compression)
{
    if (!isPictureName(path))
        return fail(error, path + ": unknown picture type (use .png, .pgm, .ppm or .bmp)");
    bool png = hasExtension(path, ".png");
    bool bmp = hasExtension(path, ".bmp");
    if (!png && !bmp && hasExtension(path, ".ppm") != (block.channels == 3))
        return fail(error, path + (block.channels == 3 ? ": a colour picture needs .ppm" : ": a grey picture needs .pgm"));
    // 8-bit blocks already hold PNG rows and PGM/PPM bodies.
    if (!bmp && block.pixels && block.height > 0 && block.width > 0 && block.bitsPerSample == 8
        && (block.channels == 1 || block.channels == 3)) {
        if (png)
            return writePngRows(path, block.height, block.width, block.channels, 8, block.pixels, compression,
                                error);
        std::string header = (block.channels == 3 ? "P6\n" : "P5\n") + std::to_string(block.width) + " "
                             + std::to_string(block.height) + "\n255\n";
        return writeBytesAfter(path, header, block.pixels, pixelBlockSize(block), error);
    }
    Image image;
    if (!pixelBlockToImage(block, png, &image, error))
        return false;
    if (bmp)
        return writeBmp(path, image, error);
    if (png) {
        bool deep = image.maxValue > 255;
        std::vector<uint8_t> bytes;
        bytes.reserve(image.samples.size() * (deep ? 2 : 1));
        for (uint16_t v : image.samples) {
            if (deep)
                bytes.push_back(uint8_t(v >> 8));
            bytes.push_back(uint8_t(v));
        }
        return writePngRows(path, image.height, image.width, image.channels, deep ? 16 : 8, bytes.data(),
                            compression, error);
    }
    return writePnm(path, image, error);
}

bool writeRaw(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    return writeBytes(path, data, size, error);
}
