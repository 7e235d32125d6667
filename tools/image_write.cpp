#include "tools/image_write.h"

#include <cstdio>
#include <vector>

#include "tools/cli.h"

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
    return writeFileBytes(path, out.data(), out.size(), error);
}

PictureType pictureTypeOf(const std::string& path)
{
    static const char* const extensions[] = {".png", ".pgm", ".ppm", ".pnm", ".bmp", ".raw"};
    for (int i = 0; i < 6; i++)
        if (hasExtension(path, extensions[i]))
            return PictureType(i + 1);
    return PictureType::Unknown;
}

PictureType pictureTypeNamed(const std::string& word)
{
    return word.find('.') == std::string::npos ? pictureTypeOf("." + word) : PictureType::Unknown;
}

bool isPictureName(const std::string& path)
{
    PictureType type = pictureTypeOf(path);
    return type != PictureType::Unknown && type != PictureType::Raw;
}

namespace {

// The picture with `channels` channels: grey from colour by its luma, colour
// from grey by repetition.
void convertChannels(Image* image, int32_t channels)
{
    if (image->channels == channels)
        return;
    size_t pixels = size_t(image->height) * size_t(image->width);
    std::vector<uint16_t> out(pixels * size_t(channels));
    for (size_t i = 0; i < pixels; i++) {
        if (channels == 1) {
            const uint16_t* rgb = &image->samples[3 * i];
            out[i] = uint16_t((299u * rgb[0] + 587u * rgb[1] + 114u * rgb[2] + 500u) / 1000u);
        } else {
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = image->samples[i];
        }
    }
    image->samples.swap(out);
    image->channels = channels;
}

} // namespace

bool writePicture(const std::string& path, const PixelBlock& block, std::string* error, PictureType type,
                  PngCompression compression)
{
    if (type == PictureType::Unknown)
        type = pictureTypeOf(path);
    if (type == PictureType::Unknown)
        return fail(error, path + ": unknown picture type (use .png, .pgm, .ppm, .pnm, .bmp or .raw)");
    if (type == PictureType::Raw)
        return writeRaw(path, block.pixels, pixelBlockSize(block), error);
    bool png = type == PictureType::Png;
    bool bmp = type == PictureType::Bmp;
    bool sameKind = type == PictureType::Pnm || (type == PictureType::Ppm) == (block.channels == 3);
    // 8-bit blocks already hold PNG rows and PGM/PPM bodies.
    if (!bmp && (png || sameKind) && block.pixels && block.height > 0 && block.width > 0
        && block.bitsPerSample == 8 && (block.channels == 1 || block.channels == 3)) {
        if (png)
            return writePngRows(path, block.height, block.width, block.channels, 8, block.pixels, compression,
                                error);
        std::string header = (block.channels == 3 ? "P6\n" : "P5\n") + std::to_string(block.width) + " "
                             + std::to_string(block.height) + "\n255\n";
        return writeFileBytes(path, block.pixels, pixelBlockSize(block), error, header);
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
    if (type == PictureType::Pgm)
        convertChannels(&image, 1);
    else if (type == PictureType::Ppm)
        convertChannels(&image, 3);
    return writePnm(path, image, error);
}

bool writeRaw(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    if (!data && size > 0)
        return fail(error, "no picture to write");
    return writeFileBytes(path, data, size, error);
}
