// zrplay: plays the client plug-in's part against the server in one process.
// Streams a file through request 213 in chunks, writes every partial frame
// and the final frame as PNG from the delivered frame memory, prints one line
// per notice and writes a contact sheet of all stages.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/layer_hooks.h"
#include "server/frame_delivery.h"
#include "plugin/plugin_double.h"
#include "tools/cli.h"
#include "tools/image_io.h"
#include "tools/stream_info.h"

namespace {

const char usage[] =
    "usage: zrplay [options] IN.zr OUTDIR\n"
    "Streams IN.zr to an in-process server as the client plug-in would: BYTES\n"
    "at a time with MS milliseconds between chunks, asking for a partial frame\n"
    "every --interval bytes. Writes stage-K.png for every partial frame,\n"
    "final.png and contact-sheet.png into OUTDIR (made if missing), converted\n"
    "from the frame memory the server delivered in the chosen layout (1 bitmap\n"
    "rows, 3 dithered palette indices, raw pixel block). Prints one line per\n"
    "notice, and the reason when the server refuses the stream.\n"
    "\n"
    "options:\n"
    "  --chunk BYTES     bytes per delivery (default 256)\n"
    "  --pause MS        milliseconds between deliveries (default 0)\n"
    "  --interval BYTES  partial-frame interval (default 1024)\n"
    "  --format 1|3|raw  frame layout (default 1)\n"
    "  --dump DIR        also write each delivered frame memory as frame-K.bin\n"
    "                    with an index.txt line \"K kind position partHeight\n"
    "                    partWidth\" per frame\n"
    "  -h, --help        show this text\n"
    "  --version         show the version\n";

struct Options {
    std::string input;
    std::string outDir;
    std::string dumpDir;
    int32_t chunk = 256;
    int32_t pauseMs = 0;
    int32_t interval = 1024;
    uint32_t format = FRAME_FORMAT_BITMAP;
};

struct Stage {
    bool final = false;
    Image image;
};

// 0 when the arguments are good, else the exit code (-1: done, exit 0).
int parseArguments(int argc, char** argv, Options* options, const Messages& m)
{
    std::vector<std::string> positional;
    ArgCursor arg(argc, argv);
    while (arg.nextOption(&positional)) {
        const std::string& name = arg.name();
        if (answerHelpOrVersion(arg, "zrplay", usage))
            return -1;
        if (!arg.is("--chunk", "--pause") && !arg.is("--interval", "--format") && !arg.is("--dump"))
            return m.usage("unknown option " + name);
        std::string value;
        if (!arg.value(&value))
            return m.usage(name + " needs a value");
        int64_t number = 0;
        bool good = true;
        if (name == "--dump") {
            options->dumpDir = value;
        } else if (name == "--format") {
            good = value == "1" || value == "3" || value == "raw";
            options->format = value == "1" ? uint32_t(FRAME_FORMAT_BITMAP) : value == "3" ? uint32_t(FRAME_FORMAT_PALETTE) : 0;
        } else {
            good = parseWhole(value, name == "--pause" ? 0 : 1, INT32_MAX, &number);
            int32_t* field = name == "--chunk" ? &options->chunk : name == "--pause" ? &options->pauseMs
                                                                                      : &options->interval;
            *field = int32_t(number);
        }
        if (!good)
            return m.usage("bad value " + value + " for " + name);
    }
    if (positional.size() != 2)
        return m.usage(positional.size() < 2 ? "needs a stream and an output folder" : "too many arguments");
    options->input = positional[0];
    options->outDir = positional[1];
    return 0;
}

// The picture in a delivered frame memory, `width` x `height` pixels.
bool frameToImage(const std::vector<uint8_t>& memory, uint32_t format, bool colour, int32_t width,
                  int32_t height, Image* image)
{
    if (width <= 0 || height <= 0)
        return false;
    int32_t a = colour ? 3 : 1;
    image->height = height;
    image->width = width;
    image->maxValue = 255;
    if (format == FRAME_FORMAT_PALETTE) {
        static uint8_t table[1024];
        buildColourTable(table);
        size_t stride = (size_t(width) + 3) & ~size_t(3);
        if (memory.size() < stride * size_t(height))
            return false;
        image->channels = 3;
        image->samples.resize(size_t(width) * height * 3);
        for (int32_t y = 0; y < height; y++) {
            const uint8_t* row = memory.data() + stride * size_t(height - 1 - y);
            for (int32_t x = 0; x < width; x++) {
                const uint8_t* entry = table + 4 * row[x];
                uint16_t* out = &image->samples[(size_t(y) * width + x) * 3];
                out[0] = entry[2];
                out[1] = entry[1];
                out[2] = entry[0];
            }
        }
        return true;
    }
    image->channels = a;
    image->samples.resize(size_t(width) * height * a);
    if (format == FRAME_FORMAT_BITMAP) {
        size_t stride = (size_t(a) * width + 3) & ~size_t(3);
        if (memory.size() < stride * size_t(height))
            return false;
        for (int32_t y = 0; y < height; y++) {
            const uint8_t* row = memory.data() + stride * size_t(height - 1 - y);
            uint16_t* out = &image->samples[size_t(y) * width * a];
            for (int32_t x = 0; x < width; x++) {
                if (colour) {
                    out[3 * x] = row[3 * x + 2];
                    out[3 * x + 1] = row[3 * x + 1];
                    out[3 * x + 2] = row[3 * x];
                } else {
                    out[x] = row[x];
                }
            }
        }
        return true;
    }
    if (memory.size() < image->samples.size())
        return false;
    std::copy(memory.begin(), memory.begin() + image->samples.size(), image->samples.begin());
    return true;
}

// All stages, each enlarged to the picture size, eight to a row.
Image contactSheet(const std::vector<Stage>& stages, int32_t width, int32_t height)
{
    const int32_t gap = 4, perRow = 8;
    int32_t count = int32_t(stages.size());
    int32_t columns = std::min(count, perRow);
    int32_t rows = (count + perRow - 1) / perRow;
    Image sheet;
    sheet.channels = 3;
    sheet.maxValue = 255;
    sheet.width = columns * width + (columns + 1) * gap;
    sheet.height = rows * height + (rows + 1) * gap;
    sheet.samples.assign(size_t(sheet.width) * sheet.height * 3, 64);
    for (int32_t k = 0; k < count; k++) {
        const Image& stage = stages[k].image;
        int32_t left = gap + (k % perRow) * (width + gap);
        int32_t top = gap + (k / perRow) * (height + gap);
        for (int32_t y = 0; y < height; y++) {
            int32_t sy = int32_t(int64_t(y) * stage.height / height);
            for (int32_t x = 0; x < width; x++) {
                int32_t sx = int32_t(int64_t(x) * stage.width / width);
                const uint16_t* in = &stage.samples[(size_t(sy) * stage.width + sx) * stage.channels];
                uint16_t* out = &sheet.samples[(size_t(top + y) * sheet.width + left + x) * 3];
                for (int c = 0; c < 3; c++)
                    out[c] = in[stage.channels == 3 ? c : 0];
            }
        }
    }
    return sheet;
}

} // namespace

int main(int argc, char** argv)
{
    Messages m;
    m.tool = "zrplay";
    Options options;
    int parsed = parseArguments(argc, argv, &options, m);
    if (parsed != 0)
        return parsed < 0 ? kExitOk : parsed;

    InputBytes stream;
    std::string readError;
    if (!readInput(options.input, &stream, &readError))
        return m.fail(readError);
    if (stream.size() > 0x7FFFFFFF)
        return m.fail(options.input + ": too large");
    for (const std::string* dir : {&options.outDir, &options.dumpDir}) {
        std::error_code error;
        if (!dir->empty() && !std::filesystem::create_directories(*dir, error) && error) {
            return m.fail("cannot create " + *dir + ": " + error.message());
        }
    }

    // A desktop of our own, so that a server running elsewhere is not found.
    zrSetDesktopName(("zrplay-" + std::to_string(getpid())).c_str());
    installPluginDouble();

    std::mutex lock;
    std::vector<Stage> stages;
    std::FILE* index = nullptr;
    if (!options.dumpDir.empty())
        index = std::fopen((options.dumpDir + "/index.txt").c_str(), "w");
    bool failed = false;
    int32_t deliveries = 0;
    int32_t pictureWidth = 0, pictureHeight = 0;

    setNoticeHook([&](const PluginNotice& notice) {
        std::lock_guard<std::mutex> hold(lock);
        bool final = notice.notice == 1;
        int32_t k = ++deliveries;
        if (index) {
            std::string name = options.dumpDir + "/frame-" + std::to_string(k) + ".bin";
            std::string error;
            if (!writeFileBytes(name, notice.frame.data(), notice.frame.size(), &error)) {
                m.fail(error);
                failed = true;
            }
            std::fprintf(index, "%d %s %d %d %d\n", k, final ? "final" : "partial", notice.position,
                         notice.partHeight, notice.partWidth);
        }
        Stage stage;
        stage.final = final;
        if (notice.frame.empty() ||
            !frameToImage(notice.frame, notice.format, notice.isColour != 0, notice.partWidth, notice.partHeight,
                          &stage.image)) {
            std::printf("%s: no picture after %d bytes\n", final ? "final" : "partial", notice.position);
            if (final)
                failed = true;
            return;
        }
        if (final)
            std::printf("final %d x %d after %d bytes\n", notice.width, notice.height, notice.position);
        else
            std::printf("partial %d x %d of %d x %d after %d bytes\n", notice.partWidth, notice.partHeight,
                        notice.width, notice.height, notice.position);
        std::fflush(stdout);
        pictureWidth = notice.width;
        pictureHeight = notice.height;
        std::string error;
        std::string name = final ? "final.png" : "stage-" + std::to_string(k) + ".png";
        if (!writePng(options.outDir + "/" + name, stage.image, &error)) {
            std::fprintf(stderr, "zrplay: %s\n", error.c_str());
            failed = true;
        }
        stages.push_back(std::move(stage));
    });

    ServerThread server;
    if (!server.start()) {
        std::fprintf(stderr, "zrplay: the server did not start\n");
        server.join();
        return 1;
    }
    StreamingClient client(std::vector<uint8_t>(stream.begin(), stream.end()), options.interval, options.format);
    client.start(server.window, 0);
    while (client.delivered() < int32_t(stream.size())) {
        client.deliver(server.window, options.chunk);
        if (options.pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(options.pauseMs));
    }
    // The whole file is there: a stream that ends early must not wait for
    // more. The abort takes effect only once every byte has been read.
    client.abort(server.window);
    bool ended = waitForFinal(&client.options, 600000);
    int exitCode = server.stop();
    setNoticeHook(nullptr);
    if (index)
        std::fclose(index);
    if (!ended)
        return m.fail("the decode did not end");
    if (stages.empty() || !stages.back().final) {
        StreamInfo info = inspectBytes(stream.data(), stream.size());
        if (info.status != 0)
            m.fail(options.input + ": refused: " + info.reason);
    }
    if (exitCode != 0)
        std::fprintf(stderr, "zrplay: the server ended with %d\n", exitCode);

    if (!stages.empty()) {
        std::string error;
        if (!writePng(options.outDir + "/contact-sheet.png", contactSheet(stages, pictureWidth, pictureHeight),
                      &error)) {
            std::fprintf(stderr, "zrplay: %s\n", error.c_str());
            failed = true;
        }
    }
    return failed || stages.empty() || !stages.back().final ? 1 : 0;
}
