// zrplay: plays the client plug-in's part against the server in one process.
// Streams a file through request 213 in chunks, writes every partial frame
// and the final frame as PNG from the delivered frame memory, prints one line
// per notice and writes a contact sheet of all stages.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/layer_hooks.h"
#include "server/frame_delivery.h"
#include "plugin/plugin_double.h"
#include "tools/image_io.h"

namespace {

const char usage[] =
    "usage: zrplay IN.zr OUTDIR [--chunk BYTES] [--pause MS] [--interval BYTES]\n"
    "              [--format 1|3|raw] [--dump DIR]\n"
    "Streams IN.zr to an in-process server as the client plug-in would: BYTES\n"
    "at a time (default 256) with MS milliseconds between chunks (default 0),\n"
    "asking for a partial frame every --interval bytes (default 1024). Writes\n"
    "stage-K.png for every partial frame, final.png and contact-sheet.png into\n"
    "OUTDIR, converted from the frame memory the server delivered in the chosen\n"
    "layout (1 bitmap rows, 3 dithered palette indices, raw pixel block).\n"
    "--dump DIR also writes each delivered frame memory as frame-K.bin with an\n"
    "index.txt line \"K kind position partHeight partWidth\" per frame.\n";

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

bool parseNumber(const char* text, int32_t low, int32_t* out)
{
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < low || value > 0x7FFFFFFF)
        return false;
    *out = int32_t(value);
    return true;
}

// 0 when the arguments are good, else the exit code.
int parseArguments(int argc, char** argv, Options* options)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return -1;
        }
        bool takesValue = arg == "--chunk" || arg == "--pause" || arg == "--interval" || arg == "--format" ||
                          arg == "--dump";
        if (takesValue) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zrplay: %s needs a value\n", arg.c_str());
                return 2;
            }
            const char* value = argv[++i];
            bool good = true;
            if (arg == "--chunk")
                good = parseNumber(value, 1, &options->chunk);
            else if (arg == "--pause")
                good = parseNumber(value, 0, &options->pauseMs);
            else if (arg == "--interval")
                good = parseNumber(value, 1, &options->interval);
            else if (arg == "--dump")
                options->dumpDir = value;
            else if (std::strcmp(value, "1") == 0)
                options->format = FRAME_FORMAT_BITMAP;
            else if (std::strcmp(value, "3") == 0)
                options->format = FRAME_FORMAT_PALETTE;
            else if (std::strcmp(value, "raw") == 0)
                options->format = 0;
            else
                good = false;
            if (!good) {
                std::fprintf(stderr, "zrplay: bad value %s for %s\n", value, arg.c_str());
                return 2;
            }
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "zrplay: unknown option %s\n%s", arg.c_str(), usage);
            return 2;
        }
        positional.push_back(arg);
    }
    if (positional.size() != 2) {
        std::fputs(usage, stderr);
        return 2;
    }
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

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    int parsed = parseArguments(argc, argv, &options);
    if (parsed != 0)
        return parsed < 0 ? 0 : parsed;

    std::ifstream in(options.input, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "zrplay: cannot open %s\n", options.input.c_str());
        return 1;
    }
    std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (stream.size() > 0x7FFFFFFF) {
        std::fprintf(stderr, "zrplay: %s is too large\n", options.input.c_str());
        return 1;
    }
    for (const std::string* dir : {&options.outDir, &options.dumpDir}) {
        std::error_code error;
        if (!dir->empty() && !std::filesystem::create_directories(*dir, error) && error) {
            std::fprintf(stderr, "zrplay: cannot create %s: %s\n", dir->c_str(), error.message().c_str());
            return 1;
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
            writeBytes(name, notice.frame);
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
    StreamingClient client(stream, options.interval, options.format);
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
    if (!ended) {
        std::fprintf(stderr, "zrplay: the decode did not end\n");
        return 1;
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
