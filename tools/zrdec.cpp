// zrdec: decodes a ZR stream into a picture file, optionally writing the
// partial pictures that appear while the stream arrives.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/zr.h"
#include "tools/image_write.h"
#include "tools/stream_info.h"

namespace {

const char usage[] =
    "usage: zrdec [options] IN.zr OUT\n"
    "Decodes IN.zr and writes the picture to OUT, chosen by extension: .png\n"
    "(8-bit; 16-bit grey for streams deeper than 8 bits), .pgm (grey), .ppm\n"
    "(colour) or .bmp. Prints \"status S height H width W bpp B colour C\" and\n"
    "exits with 1 when the stream is refused, saying why.\n"
    "\n"
    "options:\n"
    "  --exact              dequantise with exact sub-steps\n"
    "  --half               low-memory decoding (the picture keeps its size)\n"
    "  --sharpen            sharpen before the last level\n"
    "  --raw                write the decoder's pixel block as it is: rows top to\n"
    "                       bottom, RGB bytes for colour, one byte per grey\n"
    "                       sample, two (low byte first) for deeper grey\n"
    "  --frames-every N DIR decode as the stream would arrive, asking for a\n"
    "                       partial picture before every byte at a position p\n"
    "                       with p mod N = N - 1 (and at the end of the data);\n"
    "                       writes each one as DIR/frame-K.png (or .raw) and a\n"
    "                       line \"K position partHeight partWidth\" to\n"
    "                       DIR/index.txt\n"
    "  --small-png          compress PNG output harder (slower; the default is\n"
    "                       zlib's fastest setting)\n"
    "  --help               show this text\n";

struct Options {
    std::string input;
    std::string output;
    ZrRequest request{};
    bool raw = false;
    PngCompression png = PngCompression::Fast;
    int32_t framesEvery = 0;
    std::string framesDir;
};

// Returns 0 to go on, 1 after --help, 2 on a usage error.
int parseOptions(int argc, char** argv, Options* options)
{
    std::vector<std::string> files;
    bool onlyFiles = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (onlyFiles || arg.size() < 2 || arg[0] != '-') {
            files.push_back(arg);
        } else if (arg == "--") {
            onlyFiles = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 1;
        } else if (arg == "--exact") {
            options->request.exactSteps = 1;
        } else if (arg == "--half") {
            options->request.lowMemory = 1;
        } else if (arg == "--sharpen") {
            options->request.sharpen = 1;
        } else if (arg == "--raw") {
            options->raw = true;
        } else if (arg == "--small-png") {
            options->png = PngCompression::Small;
        } else if (arg == "--frames-every") {
            if (i + 2 >= argc) {
                std::fprintf(stderr, "zrdec: --frames-every needs N and DIR\n");
                return 2;
            }
            char* end = nullptr;
            errno = 0;
            long n = std::strtol(argv[i + 1], &end, 10);
            if (!*argv[i + 1] || *end || errno || n < 1 || n > 0x7FFFFFFF) {
                std::fprintf(stderr, "zrdec: --frames-every needs a whole number of bytes from 1 up, not %s\n",
                             argv[i + 1]);
                return 2;
            }
            options->framesEvery = int32_t(n);
            options->framesDir = argv[i + 2];
            i += 2;
        } else {
            std::fprintf(stderr, "zrdec: unknown option %s\n%s", arg.c_str(), usage);
            return 2;
        }
    }
    if (files.size() != 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    options->input = files[0];
    options->output = files[1];
    if (!options->raw && !isPictureName(options->output)) {
        std::fprintf(stderr, "zrdec: %s: unknown picture type (use .png, .pgm, .ppm or .bmp, or --raw)\n",
                     options->output.c_str());
        return 2;
    }
    return 0;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = std::strerror(errno);
        return false;
    }
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    bool ok = !std::ferror(file);
    std::fclose(file);
    if (!ok)
        *error = "read error";
    return ok;
}

PixelBlock blockOf(const uint8_t* pixels, int32_t height, int32_t width, int32_t channels, int32_t bitsPerSample)
{
    PixelBlock block;
    block.pixels = pixels;
    block.height = height;
    block.width = width;
    block.channels = channels;
    block.bitsPerSample = bitsPerSample;
    return block;
}

bool writeBlock(const std::string& path, const PixelBlock& block, const Options& options, std::string* error)
{
    if (options.raw)
        return writeRaw(path, block.pixels, pixelBlockSize(block), error);
    return writePicture(path, block, error, options.png);
}

struct FrameWriter {
    const Options* options;
    FILE* index = nullptr;
    int32_t count = 0;
    bool failed = false;
    std::string error;
};

int32_t readFile(void* context, uint8_t* data, int32_t size)
{
    FILE* file = static_cast<FILE*>(context);
    return int32_t(std::fread(data, 1, size_t(size), file));
}

int32_t writeFrame(void* context, const ZrPartial* partial)
{
    FrameWriter* writer = static_cast<FrameWriter*>(context);
    int32_t k = ++writer->count;
    std::string name = writer->options->framesDir + "/frame-" + std::to_string(k)
                     + (writer->options->raw ? ".raw" : ".png");
    PixelBlock block = blockOf(partial->pixels, partial->partHeight, partial->partWidth, partial->channels,
                               partial->bitsPerSample);
    if (!writeBlock(name, block, *writer->options, &writer->error)) {
        writer->failed = true;
        return 1;
    }
    std::fprintf(writer->index, "%d %d %d %d\n", k, partial->position, partial->partHeight, partial->partWidth);
    return 0;
}

// Decodes as a stream arriving from the file, writing the partial pictures.
// Returns false (with `error`) when the decode could not start; `frameError`
// tells of a frame, the index or the file failing during the decode.
bool decodeFrames(const Options& options, ZrPicture* picture, int32_t* status, std::string* error,
                  std::string* frameError)
{
    std::error_code made;
    std::filesystem::create_directories(options.framesDir, made);
    if (made) {
        *error = "cannot create " + options.framesDir + ": " + made.message();
        return false;
    }
    FILE* file = std::fopen(options.input.c_str(), "rb");
    if (!file) {
        *error = options.input + ": " + std::strerror(errno);
        return false;
    }
    FrameWriter writer;
    writer.options = &options;
    std::string indexName = options.framesDir + "/index.txt";
    writer.index = std::fopen(indexName.c_str(), "w");
    if (!writer.index) {
        std::fclose(file);
        *error = "cannot create " + indexName;
        return false;
    }
    ZrStream stream{};
    stream.read = readFile;
    stream.readContext = file;
    stream.partialInterval = options.framesEvery;
    stream.partial = writeFrame;
    stream.partialContext = &writer;
    *status = zrDecodeStream(&stream, &options.request, picture);
    bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    if (std::fclose(writer.index) != 0 && !writer.failed) {
        writer.failed = true;
        writer.error = "cannot write " + indexName;
    }
    if (readFailed)
        *frameError = options.input + ": read error";
    else if (writer.failed)
        *frameError = writer.error;
    return true;
}

std::string refusal(const std::string& path, int32_t status)
{
    StreamInfo info;
    std::string error;
    if (inspectFile(path.c_str(), &info, &error) && info.status == status && !info.reason.empty())
        return info.reason;
    return zrStatusText(status);
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    // A command-line decode may use what the process may: no per-decode bound.
    options.request.maxMemory = UINT64_MAX;
    int parsed = parseOptions(argc, argv, &options);
    if (parsed != 0)
        return parsed == 1 ? 0 : 2;

    ZrPicture picture{};
    int32_t status = 0;
    std::string error;
    std::string frameError;
    if (options.framesEvery > 0) {
        if (!decodeFrames(options, &picture, &status, &error, &frameError)) {
            std::fprintf(stderr, "zrdec: %s\n", error.c_str());
            return 1;
        }
    } else {
        std::vector<uint8_t> bytes;
        if (!readWholeFile(options.input, &bytes, &error)) {
            std::fprintf(stderr, "zrdec: %s: %s\n", options.input.c_str(), error.c_str());
            return 1;
        }
        status = zrDecode(bytes.data(), bytes.size(), &options.request, &picture);
    }

    std::printf("status %d height %d width %d bpp %d colour %d\n", status, picture.height, picture.width,
                picture.bitsPerPixel, picture.channels == 3 ? 1 : 0);
    std::fflush(stdout);
    if (!frameError.empty()) {
        zrFree(&picture);
        std::fprintf(stderr, "zrdec: %s\n", frameError.c_str());
        return 1;
    }
    if (status != 0) {
        zrFree(&picture);
        std::fprintf(stderr, "zrdec: %s: refused: %s\n", options.input.c_str(),
                     refusal(options.input, status).c_str());
        return 1;
    }
    PixelBlock block = blockOf(picture.pixels, picture.height, picture.width, picture.channels,
                               picture.bitsPerSample);
    bool written = writeBlock(options.output, block, options, &error);
    zrFree(&picture);
    if (!written) {
        std::fprintf(stderr, "zrdec: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
