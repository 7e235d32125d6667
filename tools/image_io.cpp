#include "tools/image_io.h"

#ifndef ZR_NO_PNG
#include <png.h>

#include "tools/png_image_data.h"
#endif

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/encoder/large_arrays.h"

namespace {

const int32_t kMaxSide = 1 << 20;

bool fail(std::string* error, const std::string& message)
{
    if (error)
        *error = message;
    return false;
}

bool readFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return fail(error, path + ": " + std::strerror(errno));
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    bool failed = std::ferror(file) != 0;
    std::string reason = failed ? std::strerror(errno) : "";
    std::fclose(file);
    return failed ? fail(error, path + ": " + reason) : true;
}

#ifndef ZR_NO_PNG
// ---- PNG ----

struct PngMemory {
    const uint8_t* data;
    size_t size;
    size_t offset;
};

struct PngFailure {
    jmp_buf jump;
    char message[200];
};

void pngError(png_structp png, png_const_charp message)
{
    PngFailure* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    longjmp(failure->jump, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngReadMemory(png_structp png, png_bytep out, png_size_t count)
{
    PngMemory* memory = static_cast<PngMemory*>(png_get_io_ptr(png));
    if (count > memory->size - memory->offset)
        png_error(png, "truncated PNG data");
    std::memcpy(out, memory->data + memory->offset, count);
    memory->offset += count;
}

// Decodes into *image. The row buffers belong to the caller, so that nothing
// with a destructor is created in this frame after setjmp.
bool decodePng(const uint8_t* data, size_t size, Image* image, std::vector<uint8_t>* rowBytes,
               std::vector<png_bytep>* rowPointers, std::string* error)
{
    PngFailure failure;
    failure.message[0] = 0;
    PngMemory memory{data, size, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, pngError, pngWarning);
    if (!png)
        return fail(error, "out of memory reading PNG");
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return fail(error, "out of memory reading PNG");
    }
    if (setjmp(failure.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return fail(error, std::string("bad PNG: ") + failure.message);
    }
    png_set_read_fn(png, &memory, pngReadMemory);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || width > static_cast<png_uint_32>(kMaxSide)
        || height > static_cast<png_uint_32>(kMaxSide))
        png_error(png, "unsupported picture size");
    png_set_expand(png);  // palettes to RGB, grey below 8 bits to 8 bits, tRNS to alpha
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    int stored = png_get_channels(png, info);
    int depth = png_get_bit_depth(png, info);
    bool hasAlpha = stored == 2 || stored == 4;
    int channels = hasAlpha ? stored - 1 : stored;
    if ((channels != 1 && channels != 3) || (depth != 8 && depth != 16))
        png_error(png, "unsupported PNG sample layout");
    size_t rowSize = png_get_rowbytes(png, info);
    fillLargeArray(rowBytes, rowSize * height, uint8_t(0));
    rowPointers->resize(height);
    for (png_uint_32 y = 0; y < height; y++)
        (*rowPointers)[y] = rowBytes->data() + y * rowSize;
    png_read_image(png, rowPointers->data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);

    image->height = static_cast<int32_t>(height);
    image->width = static_cast<int32_t>(width);
    image->channels = channels;
    image->maxValue = depth == 16 ? 65535 : 255;
    size_t pixels = static_cast<size_t>(height) * width;
    fillLargeArray(&image->samples, pixels * channels, uint16_t(0));
    image->alpha.assign(hasAlpha ? pixels : 0, 0);
    const uint8_t* in = rowBytes->data();
    size_t bytes = depth == 16 ? 2 : 1;
    for (png_uint_32 y = 0; y < height; y++) {
        const uint8_t* row = in + y * rowSize;
        for (png_uint_32 x = 0; x < width; x++) {
            size_t pixel = static_cast<size_t>(y) * width + x;
            for (int c = 0; c < stored; c++) {
                const uint8_t* at = row + (static_cast<size_t>(x) * stored + c) * bytes;
                uint16_t v = static_cast<uint16_t>(bytes == 2 ? (at[0] << 8) | at[1] : at[0]);
                if (c < channels)
                    image->samples[pixel * channels + c] = v;
                else
                    image->alpha[pixel] = v;
            }
        }
    }
    return true;
}

#endif

// ---- PGM / PPM ----

struct PnmScanner {
    const uint8_t* data;
    size_t size;
    size_t offset;

    void skipSpaceAndComments()
    {
        while (offset < size) {
            uint8_t c = data[offset];
            if (c == '#') {
                while (offset < size && data[offset] != '\n' && data[offset] != '\r')
                    offset++;
            } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                offset++;
            } else {
                break;
            }
        }
    }

    // A decimal number up to `limit`; false when none is there or it is too large.
    bool number(uint32_t limit, uint32_t* value)
    {
        skipSpaceAndComments();
        if (offset >= size || data[offset] < '0' || data[offset] > '9')
            return false;
        uint64_t v = 0;
        while (offset < size && data[offset] >= '0' && data[offset] <= '9') {
            v = v * 10 + (data[offset] - '0');
            if (v > limit)
                return false;
            offset++;
        }
        *value = static_cast<uint32_t>(v);
        return true;
    }
};

bool decodePnm(const uint8_t* data, size_t size, Image* image, std::string* error)
{
    char kind = static_cast<char>(data[1]);
    bool plain = kind == '2' || kind == '3';
    int32_t channels = (kind == '3' || kind == '6') ? 3 : 1;
    PnmScanner scan{data, size, 2};
    uint32_t width, height, maxValue;
    if (!scan.number(kMaxSide, &width) || !scan.number(kMaxSide, &height)
        || !scan.number(65535, &maxValue))
        return fail(error, "bad PGM/PPM header");
    if (width == 0 || height == 0 || maxValue == 0)
        return fail(error, "bad PGM/PPM header: empty picture or zero maxval");
    size_t count = static_cast<size_t>(width) * height * channels;
    fillLargeArray(&image->samples, count, uint16_t(0));
    if (plain) {
        for (size_t i = 0; i < count; i++) {
            uint32_t v;
            if (!scan.number(maxValue, &v))
                return fail(error, "bad PGM/PPM data: missing or out-of-range sample");
            image->samples[i] = static_cast<uint16_t>(v);
        }
    } else {
        // Exactly one whitespace byte separates the header from the samples.
        if (scan.offset >= size)
            return fail(error, "bad PGM/PPM data: no samples");
        scan.offset++;
        size_t bytesPerSample = maxValue > 255 ? 2 : 1;
        if ((size - scan.offset) / bytesPerSample < count)
            return fail(error, "bad PGM/PPM data: truncated");
        const uint8_t* p = data + scan.offset;
        for (size_t i = 0; i < count; i++) {
            uint32_t v = bytesPerSample == 2 ? (p[2 * i] << 8) | p[2 * i + 1] : p[i];
            if (v > maxValue)
                return fail(error, "bad PGM/PPM data: sample above maxval");
            image->samples[i] = static_cast<uint16_t>(v);
        }
    }
    image->height = static_cast<int32_t>(height);
    image->width = static_cast<int32_t>(width);
    image->channels = channels;
    image->maxValue = static_cast<int32_t>(maxValue);
    return true;
}

// The samples as PNG and PNM store them: one byte each, or two (high
// first) when maxValue needs more than 8 bits; with `withAlpha`, each
// pixel's opacity follows its samples.
std::vector<uint8_t> sampleBytes(const Image& image, bool withAlpha)
{
    bool deep = image.maxValue > 255;
    size_t pixels = static_cast<size_t>(image.height) * image.width;
    size_t stored = image.channels + (withAlpha ? 1 : 0);
    std::vector<uint8_t> bytes(pixels * stored * (deep ? 2 : 1));
    size_t k = 0;
    for (size_t p = 0; p < pixels; p++) {
        for (size_t c = 0; c < stored; c++) {
            uint16_t v = c < size_t(image.channels) ? image.samples[p * image.channels + c] : image.alpha[p];
            if (deep)
                bytes[k++] = static_cast<uint8_t>(v >> 8);
            bytes[k++] = static_cast<uint8_t>(v);
        }
    }
    return bytes;
}

} // namespace

bool hasExtension(const std::string& path, const char* extension)
{
    size_t n = std::strlen(extension);
    if (path.size() < n)
        return false;
    for (size_t i = 0; i < n; i++) {
        char c = path[path.size() - n + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != extension[i])
            return false;
    }
    return true;
}

bool checkImage(const Image& image, std::string* error)
{
    if ((image.channels != 1 && image.channels != 3) || image.height <= 0 || image.width <= 0
        || image.maxValue <= 0 || image.maxValue > 65535
        || image.samples.size() != static_cast<size_t>(image.height) * image.width * image.channels
        || (!image.alpha.empty() && image.alpha.size() != static_cast<size_t>(image.height) * image.width))
        return fail(error, "picture to write is malformed");
    return true;
}

int32_t imageBitDepth(const Image& image)
{
    int32_t bits = 0;
    while (bits < 16 && (1 << bits) - 1 < image.maxValue)
        bits++;
    return bits;
}

bool readImageMemory(const uint8_t* data, size_t size, Image* image, std::string* error)
{
    static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(data, kPngSignature, 8) == 0) {
#ifdef ZR_NO_PNG
        return fail(error, "PNG is not supported by this build (use PGM or PPM)");
#else
        std::vector<uint8_t> rowBytes;
        std::vector<png_bytep> rowPointers;
        return decodePng(data, size, image, &rowBytes, &rowPointers, error);
#endif
    }
    if (size >= 2 && data[0] == 'P' && (data[1] == '2' || data[1] == '3' || data[1] == '5' || data[1] == '6'))
        return decodePnm(data, size, image, error);
    return fail(error, "not a PNG, PGM or PPM picture");
}

bool readImage(const std::string& path, Image* image, std::string* error)
{
    std::vector<uint8_t> bytes;
    if (!readFile(path, &bytes, error))
        return false;
    if (!readImageMemory(bytes.data(), bytes.size(), image, error)) {
        if (error)
            *error = path + ": " + *error;
        return false;
    }
    return true;
}

bool writePng(const std::string& path, const Image& image, std::string* error)
{
    if (!checkImage(image, error))
        return false;
    bool alpha = !image.alpha.empty();
    std::vector<uint8_t> bytes = sampleBytes(image, alpha);
    return writePngRows(path, image.height, image.width, image.channels + (alpha ? 1 : 0),
                        image.maxValue > 255 ? 16 : 8, bytes.data(), PngCompression::Small, error);
}

#ifndef ZR_NO_PNG
namespace {

// Writes the PNG: from `rows` through libpng's compressor, or, with `idat`,
// those `idatSize` bytes of ready image data.
bool writePngFile(const std::string& path, int32_t height, int32_t width, int32_t channels, int32_t bitDepth,
                  const png_bytep* rows, const uint8_t* idat, size_t idatSize, std::string* error)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return fail(error, path + ": " + std::strerror(errno));
    PngFailure failure;
    failure.message[0] = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        std::fclose(file);
        return fail(error, "out of memory writing PNG");
    }
    if (setjmp(failure.jump)) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return fail(error, path + ": " + (errno ? std::strerror(errno) : failure.message));
    }
    errno = 0;
    png_init_io(png, file);
    static const int colourTypes[4] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                       PNG_COLOR_TYPE_RGB_ALPHA};
    png_set_IHDR(png, info, width, height, bitDepth, colourTypes[channels - 1],
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (idat) {
        // libpng frames the chunks and their checksums.
        static const png_byte idatName[5] = "IDAT";
        static const png_byte iendName[5] = "IEND";
        const size_t kPiece = size_t(1) << 20;
        for (size_t at = 0; at < idatSize; at += kPiece)
            png_write_chunk(png, idatName, idat + at, std::min(kPiece, idatSize - at));
        png_write_chunk(png, iendName, nullptr, 0);
    } else {
        png_write_image(png, const_cast<png_bytepp>(rows));
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0)
        return fail(error, path + ": " + std::strerror(errno));
    return true;
}

} // namespace
#endif

bool writePngRows(const std::string& path, int32_t height, int32_t width, int32_t channels, int32_t bitDepth,
                  const uint8_t* data, PngCompression compression, std::string* error)
{
#ifdef ZR_NO_PNG
    (void)height, (void)width, (void)channels, (void)bitDepth, (void)data, (void)compression;
    return fail(error, path + ": PNG output is not available in this build (use .ppm, .pgm or .bmp)");
#else
    size_t rowSize = static_cast<size_t>(width) * channels * (bitDepth > 8 ? 2 : 1);
    bool fast = compression == PngCompression::Fast;
    PngImageData idat;
    if (fast && !idat.pack(height, rowSize, data))
        return fail(error, "out of memory writing PNG");
    std::vector<png_bytep> rows(fast ? 0 : height);
    for (size_t y = 0; y < rows.size(); y++)
        rows[y] = const_cast<uint8_t*>(data) + y * rowSize;

    return writePngFile(path, height, width, channels, bitDepth, rows.data(), idat.bytes(), idat.size(), error);
#endif
}

bool writePnm(const std::string& path, const Image& image, std::string* error)
{
    if (!checkImage(image, error))
        return false;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return fail(error, path + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes = sampleBytes(image, false);
    bool ok = std::fprintf(file, "%s\n%d %d\n%d\n", image.channels == 3 ? "P6" : "P5", image.width, image.height,
                           image.maxValue) > 0
           && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::string reason = ok ? "" : std::strerror(errno);
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        reason = std::strerror(errno);
    }
    return ok ? true : fail(error, path + ": " + reason);
}

bool writeImage(const std::string& path, const Image& image, std::string* error)
{
    if (hasExtension(path, ".png"))
        return writePng(path, image, error);
    if (hasExtension(path, ".pgm") || hasExtension(path, ".ppm")) {
        bool colour = image.channels == 3;
        if (colour != hasExtension(path, ".ppm"))
            return fail(error, path + ": use .ppm for colour and .pgm for grey pictures");
        return writePnm(path, image, error);
    }
    return fail(error, path + ": unknown picture type (use .png, .pgm or .ppm)");
}
