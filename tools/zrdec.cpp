// zrdec: decodes a ZR stream into a picture file, optionally writing the
// partial pictures that appear while the stream arrives.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "codec/core/available_cores.h"
#include "codec/zr.h"
#include "tools/cli.h"
#include "tools/image_write.h"
#include "tools/stream_info.h"

namespace {

const int32_t kFrameCap = 1000;

const char usage[] =
    "usage: zrdec [options] IN.zr OUT\n"
    "       zrdec [options] IN.zr -o OUT\n"
    "Decodes IN.zr and writes the picture to OUT, chosen by extension: .png\n"
    "(8-bit; 16-bit grey for streams deeper than 8 bits), .pgm (grey; colour\n"
    "pictures become grey), .ppm (colour; grey is repeated), .pnm (either, as\n"
    "the picture is), .bmp, or .raw (the pixel block as it is). IN or OUT may\n"
    "be - for standard input or output (PNG unless --type says otherwise). OUT\n"
    "is written under a temporary name and renamed when complete. Prints\n"
    "\"status S height H width W bpp B colour C\" on standard error, says why\n"
    "a refused stream is refused, and warns when the stream ends early (the\n"
    "picture then holds only what arrived).\n"
    "\n"
    "options:\n"
    "  -o, --output OUT     the output file\n"
    "  --type TYPE          png, pgm, ppm, pnm, bmp or raw, whatever OUT's name\n"
    "  --raw                the same as --type raw: rows top to bottom, RGB bytes\n"
    "                       for colour, one byte per grey sample, two (low byte\n"
    "                       first) for deeper grey\n"
    "  --low-memory         decode with planes of half the size (alias --half);\n"
    "                       the picture keeps its size but loses detail\n"
    "  --exact              dequantise with exact sub-steps; streams not written\n"
    "                       for it come out slightly worse\n"
    "  --sharpen            sharpen before the last level; for streams written\n"
    "                       with zrenc --sharpen, which are marked and sharpened\n"
    "                       without asking; other streams come out worse\n"
    "  --no-sharpen         decode marked streams plainly\n"
    "  --frames-every N DIR decode as the stream would arrive, asking for a\n"
    "                       partial picture before every byte at a position p\n"
    "                       with p mod N = N - 1 (and at the end of the data);\n"
    "                       writes each one as DIR/frame-KKKK.png (or .raw,\n"
    "                       numbered from 0001) and a line \"K position\n"
    "                       partHeight partWidth\" to DIR/index.txt, after\n"
    "                       removing the frames of an earlier run; needs a\n"
    "                       level-progressive stream; stops after 1000 frames\n"
    "  --force              write every frame, even beyond 1000\n"
    "  -j, --threads N      1 decodes on one thread; 2 or more reconstruct the\n"
    "                       picture on a second thread behind the decoding\n"
    "                       where that pays: pictures of a megasample or more,\n"
    "                       except grey one-pass streams (default: all cores);\n"
    "                       the output is the same for every N\n"
    "  --small-png          compress PNG output harder (slower; the default is\n"
    "                       a quick code of each block's bytes, no matches)\n"
    "  -q, --quiet          no status line, notes, warnings or progress\n"
    "  -v, --verbose        more detail\n"
    "  -h, --help           show this text\n"
    "  --version            show the version\n";

ZrRequest defaultRequest()
{
    ZrRequest request{};
#ifdef _WIN32
    unsigned cores = 1; // the Windows build decodes on one thread
#else
    unsigned cores = static_cast<unsigned>(availableCores());
#endif
    request.threads = cores;
    return request;
}

struct Options {
    std::string input;
    std::string output;
    ZrRequest request{defaultRequest()};
    bool noSharpen = false;
    PictureType type = PictureType::Unknown;
    PngCompression png = PngCompression::Fast;
    int32_t framesEvery = 0;
    std::string framesDir;
    bool force = false;
};

// 0 to go on, else the exit code (-1: done, exit 0).
int parseOptions(int argc, char** argv, Options* options, Messages* m)
{
    std::vector<std::string> files;
    bool raw = false;
    ArgCursor arg(argc, argv);
    while (arg.nextOption(&files)) {
        const std::string& name = arg.name();
        std::string text;
        if (answerHelpOrVersion(arg, "zrdec", usage)) {
            return -1;
        } else if (arg.is("--output", "-o") || arg.is("--type")) {
            if (!arg.value(&text))
                return m->usage(name + " needs a value");
            if (name == "--type") {
                options->type = pictureTypeNamed(text);
                if (options->type == PictureType::Unknown)
                    return m->usage("--type is png, pgm, ppm, pnm, bmp or raw, not '" + text + "'");
            } else {
                options->output = text;
            }
        } else if (arg.is("--threads", "-j")) {
            int64_t n = 0;
            if (!arg.value(&text))
                return m->usage(name + " needs a value");
            if (!parseWhole(text, 1, 256, &n))
                return m->usage(name + " needs a whole number from 1 to 256, not '" + text + "'");
            options->request.threads = uint32_t(n);
        } else if (arg.is("--frames-every")) {
            std::string dir;
            int64_t n = 0;
            if (!arg.value(&text) || !arg.value(&dir))
                return m->usage("--frames-every needs N and DIR");
            if (!parseWhole(text, 1, INT32_MAX, &n))
                return m->usage("--frames-every needs a whole number of bytes from 1 up, not " + text);
            options->framesEvery = int32_t(n);
            options->framesDir = dir;
        } else if (arg.hasInlineValue()) {
            return m->usage(name + " takes no value");
        } else if (arg.is("--exact")) {
            options->request.exactSteps = 1;
        } else if (arg.is("--low-memory", "--half")) {
            options->request.lowMemory = 1;
        } else if (arg.is("--sharpen")) {
            options->request.sharpen = 1;
        } else if (arg.is("--no-sharpen")) {
            options->noSharpen = true;
        } else if (arg.is("--raw")) {
            raw = true;
        } else if (arg.is("--small-png")) {
            options->png = PngCompression::Small;
        } else if (arg.is("--force")) {
            options->force = true;
        } else if (arg.is("--quiet", "-q")) {
            m->verbosity = 0;
        } else if (arg.is("--verbose", "-v")) {
            m->verbosity = 2;
        } else {
            return m->usage("unknown option " + name);
        }
    }
    size_t wanted = options->output.empty() ? 2 : 1;
    if (files.size() != wanted)
        return m->usage(files.size() < wanted ? "needs an input and an output file" : "too many file names");
    options->input = files[0];
    if (options->output.empty())
        options->output = files[1];
    if (options->request.sharpen && options->noSharpen)
        return m->usage("give --sharpen or --no-sharpen, not both");
    if (raw) {
        if (options->type != PictureType::Unknown && options->type != PictureType::Raw)
            return m->usage("give --raw or --type, not both");
        if (isPictureName(options->output))
            m->warn("--raw writes the pixel block as it is, not a picture, under the name " + options->output);
        options->type = PictureType::Raw;
    }
    if (options->type == PictureType::Unknown)
        options->type = options->output == "-" ? PictureType::Png : pictureTypeOf(options->output);
    if (options->type == PictureType::Unknown)
        return m->usage(options->output + ": unknown picture type (use .png, .pgm, .ppm, .pnm, .bmp or .raw, or --type)");
    if (sameFile(options->input, options->output))
        return m->usage(options->output + " is the input file; choose another output name");
    return 0;
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

// The stream in memory, handed to the decoder piece by piece; remembers
// whether the decoder wanted more than there was.
struct Feed {
    const InputBytes* bytes;
    size_t offset = 0;
    bool endedEarly = false;
};

int32_t readFeed(void* context, uint8_t* data, int32_t size)
{
    Feed* feed = static_cast<Feed*>(context);
    size_t left = feed->bytes->size() - feed->offset;
    size_t n = left < size_t(size) ? left : size_t(size);
    if (n == 0)
        feed->endedEarly = true;
    else
        std::memcpy(data, feed->bytes->data() + feed->offset, n);
    feed->offset += n;
    return int32_t(n);
}

struct FrameWriter {
    const Options* options = nullptr;
    ZrStream* stream = nullptr;
    FILE* index = nullptr;
    int32_t count = 0;
    int32_t digits = 4;
    int32_t cap = kFrameCap;
    int64_t streamSize = 0;
    ProgressLine* progress = nullptr;
    bool failed = false;
    std::string error;
};

int32_t writeFrame(void* context, const ZrPartial* partial)
{
    FrameWriter* writer = static_cast<FrameWriter*>(context);
    int32_t k = ++writer->count;
    std::string number = std::to_string(k);
    if (int32_t(number.size()) < writer->digits)
        number.insert(0, size_t(writer->digits) - number.size(), '0');
    bool raw = writer->options->type == PictureType::Raw;
    std::string name = writer->options->framesDir + "/frame-" + number + (raw ? ".raw" : ".png");
    PixelBlock block = blockOf(partial->pixels, partial->partHeight, partial->partWidth, partial->channels,
                               partial->bitsPerSample);
    if (!writePicture(name, block, &writer->error, raw ? PictureType::Raw : PictureType::Png, writer->options->png)) {
        writer->failed = true;
        return 1;
    }
    std::fprintf(writer->index, "%d %d %d %d\n", k, partial->position, partial->partHeight, partial->partWidth);
    writer->progress->show("zrdec: frame " + std::to_string(k) + " at byte " + std::to_string(partial->position)
                           + " of " + std::to_string(writer->streamSize));
    if (k >= writer->cap)
        writer->stream->partialInterval = 0; // no more offers: the rest decodes at full speed
    return 0;
}

// Removes what an earlier run wrote into the frame folder: index.txt and
// frame-<number>.png/.raw, nothing else.
bool clearOldFrames(const std::string& dir, std::string* error)
{
    static const std::regex ours("frame-[0-9]+\\.(png|raw)|index\\.txt");
    std::error_code failure;
    for (const auto& entry : std::filesystem::directory_iterator(dir, failure)) {
        if (std::regex_match(entry.path().filename().string(), ours) && !std::filesystem::remove(entry.path(), failure))
            break;
    }
    if (failure)
        *error = "cannot clear " + dir + ": " + failure.message();
    return !failure;
}

int32_t decimalDigits(int64_t n)
{
    int32_t digits = 1;
    for (; n >= 10; n /= 10)
        digits++;
    return digits;
}

// Opens the frame folder and index; false with the reason.
bool startFrames(const Options& options, const InputBytes& bytes, FrameWriter* writer,
                 const Messages& m, std::string* error)
{
    std::error_code made;
    std::filesystem::create_directories(options.framesDir, made);
    if (made) {
        *error = "cannot create " + options.framesDir + ": " + made.message();
        return false;
    }
    if (!clearOldFrames(options.framesDir, error))
        return false;
    int64_t bound = int64_t(bytes.size()) / options.framesEvery + 1;
    writer->digits = std::max(4, decimalDigits(options.force ? bound : std::min<int64_t>(bound, kFrameCap)));
    writer->cap = options.force ? INT32_MAX : kFrameCap;
    writer->streamSize = int64_t(bytes.size());
    if (options.framesEvery > int64_t(bytes.size()))
        m.warn("--frames-every " + std::to_string(options.framesEvery) + " is beyond the stream's "
               + std::to_string(bytes.size()) + " bytes: at most the picture at the end of the data is written");
    else if (bound > kFrameCap && !options.force)
        m.warn("--frames-every " + std::to_string(options.framesEvery) + " would write up to "
               + std::to_string(bound) + " frames; writing the first " + std::to_string(kFrameCap)
               + " (--force writes them all)");
    std::string indexName = options.framesDir + "/index.txt";
    writer->index = std::fopen(indexName.c_str(), "w");
    if (!writer->index) {
        *error = indexName + ": " + systemError();
        return false;
    }
    return true;
}

std::string streamName(const std::string& path)
{
    return path == "-" ? "standard input" : path;
}

} // namespace

int main(int argc, char** argv)
{
    Messages m;
    m.tool = "zrdec";
    Options options;
    options.request.maxMemory = kToolLimits.memoryBytes;
    int parsed = parseOptions(argc, argv, &options, &m);
    if (parsed != 0)
        return parsed < 0 ? kExitOk : parsed;

    InputBytes bytes;
    std::string error;
    if (!readInput(options.input, &bytes, &error))
        return m.fail(error);
    std::string name = streamName(options.input);
    StreamInfo info = inspectBytes(bytes.data(), bytes.size());
    if (info.status == 0 && isSharpenedStream(info.header) && !options.request.sharpen && !options.noSharpen) {
        options.request.sharpen = 1;
        m.note(name + " was written for sharpening decoders; decoding with --sharpen (--no-sharpen decodes it "
                      "plainly)");
    }

    Feed feed{&bytes};
    ZrStream stream{};
    stream.read = readFeed;
    stream.readContext = &feed;
    ProgressLine progress(m.verbosity > 0);
    FrameWriter writer;
    if (options.framesEvery > 0 && info.status == 0) {
        if (info.header.decodeMode != 1)
            return m.fail(name + " is a one-pass stream, which has no partial pictures; --frames-every needs a "
                                 "level-progressive stream");
        if (!startFrames(options, bytes, &writer, m, &error))
            return m.fail(error);
        writer.options = &options;
        writer.stream = &stream;
        writer.progress = &progress;
        stream.partialInterval = options.framesEvery;
        stream.partial = writeFrame;
        stream.partialContext = &writer;
    }
    ZrPicture picture{};
    int32_t status = zrDecodeStream(&stream, &options.request, &picture);
    progress.clear();
    if (writer.index && std::fclose(writer.index) != 0 && !writer.failed) {
        writer.failed = true;
        writer.error = options.framesDir + "/index.txt: " + systemError();
    }

    if (m.verbosity > 0)
        std::fprintf(stderr, "status %d height %d width %d bpp %d colour %d\n", status, picture.height,
                     picture.width, picture.bitsPerPixel, picture.channels == 3 ? 1 : 0);
    if (status != 0) {
        zrFree(&picture);
        std::string reason = info.status == status && !info.reason.empty() ? info.reason : zrStatusText(status);
        return m.fail(name + ": refused: " + reason);
    }
    if (writer.failed) {
        zrFree(&picture);
        return m.fail(writer.error);
    }
    if (options.framesEvery > 0) {
        if (writer.count == 0)
            m.warn("no partial picture was offered; " + options.framesDir + "/index.txt is empty");
        else if (writer.count >= writer.cap && writer.cap == kFrameCap)
            m.warn("stopped writing frames after " + std::to_string(kFrameCap) + " (--force writes them all)");
        m.detail(std::to_string(writer.count) + " frames in " + options.framesDir);
    }
    if (feed.endedEarly)
        m.warn(name + " ended early, after " + std::to_string(bytes.size()) + " bytes"
               + (info.endsInHeader ? " inside the header" : "")
               + ": the picture holds only what arrived and is less detailed than the stream would give");

    PixelBlock block = blockOf(picture.pixels, picture.height, picture.width, picture.channels,
                               picture.bitsPerSample);
    if (options.type == PictureType::Pgm && picture.channels == 3)
        m.note("writing the colour picture as grey (its luma), as .pgm holds grey");
    bool written = writeOutput(
        options.output,
        [&](const std::string& path, std::string* reason) {
            return writePicture(path, block, reason, options.type, options.png);
        },
        &error);
    zrFree(&picture);
    if (!written)
        return m.fail(error);
    return kExitOk;
}
